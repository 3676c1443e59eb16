#pragma once
// Which port vellquin-send sends to, and what --list shows.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/port_run.h"
#include "link/port_book.h"
#include "link/port_map.h"

namespace vq::cli {

// "COM" and digits, in any case: a choice numbered as the window numbers
// ports. Anything else names a device.
bool is_com_name(std::string_view port);

// The ports to send to, in the order given. A COM name is looked up in the
// system's ports (or VELLQUIN_PORTS); a device path (a link to one
// included) becomes COM1 of a list of its own. With `all`, every port the
// window would list. With neither: the first port the window would list
// or, when it lists none, the first that exists but may not be opened, so
// that sending to it says why.
std::vector<PortTarget> choose_ports(const std::vector<std::string>& ports, bool all);

// Without --port: the port meant when that is clear without opening any
// ("COM2"): the only port, or the only USB adapter among built-in ports
// (often a console). Else `problem` asks for --port and names the
// candidates (the USB adapters, when there are several). Both empty when
// no port is found at all, and on Windows when none is a USB adapter:
// there the first port that opens is meant, as in the window.
struct DefaultPort {
    std::string port;
    std::string problem;
};
DefaultPort default_port(PortSource& source, Platform platform = kThisPlatform);

// For each port a line with its COM number, device, and whether it is
// free, busy or not permitted; then, where the system knows them, a line
// with its USB identity (or description) and one with its stable
// /dev/serial/by-id path.
//
// On Windows only COM1 to COM9 are opened, as the window's probe does, and
// of those only the ones the system lists or that open; ports numbered 10
// and above are listed as the system names them, unopened, in the form
// --port takes (\\.\COM12).
std::vector<std::string> describe_ports(const PortMap& ports);

// "10c4:ea60, serial 0001, Silicon Labs CP2102 USB to UART Bridge" for a
// USB device (`device` may be a link to it); empty when unknown.
std::string usb_identity_of(const std::string& device);
// "latency timer 16 ms" for an FTDI adapter; empty for other ports.
std::string latency_words(const std::string& device);

}  // namespace vq::cli
