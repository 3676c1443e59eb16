#pragma once
// Which port vellquin-send sends to, and what --list shows.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/port_map.h"

namespace vq::cli {

struct ChosenPort {
    PortMap ports;       // what the COM numbers stand for
    std::string choice;  // the port choice, as the window's port list would hold it
};

// "COM" and digits, in any case: a choice numbered as the window numbers
// ports. Anything else names a device.
bool is_com_name(std::string_view port);

// A COM name is looked up in the system's ports (or VELLQUIN_PORTS); a
// device path becomes COM1 of a list of its own. Without `port`: the first
// port the window would list or, when it lists none, the first that exists
// but may not be opened, so that sending to it says why.
ChosenPort choose_port(const std::optional<std::string>& port);

// One line per port: its COM number, device, whether it is free, busy or
// not permitted, and its description.
std::vector<std::string> describe_ports(const PortMap& ports);

}  // namespace vq::cli
