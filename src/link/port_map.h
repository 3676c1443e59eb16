#pragma once
// Which device each port number stands for.
//
// On Windows, port n is COMn. Elsewhere, the serial devices the system
// reports at start-up are numbered from 1: USB adapters (ttyUSB*, ttyACM*)
// first, then the rest, each group in natural order (ttyUSB2 before
// ttyUSB10). A number past the last device names no port.

#include <string>
#include <vector>

namespace vq {

struct PortEntry {
    std::string device;       // what gets opened: /dev/ttyUSB0, COM3
    std::string description;  // what the system says about it, may be empty
};

class PortMap {
public:
    PortMap() = default;
    explicit PortMap(std::vector<PortEntry> entries) : entries_(std::move(entries)) {}

    // The devices listed in the file VELLQUIN_PORTS_FILE names, or in
    // VELLQUIN_PORTS (separated by ':' or ';') when it names any, so COM1
    // can stand for a device the system does not report or numbers
    // otherwise (a simulated device's pty, a /dev/serial/by-id path);
    // otherwise the devices of this machine, numbered as above.
    static PortMap from_environment_or_system();
    // Parses such a list; blanks around entries and empty entries are
    // ignored. Each entry is described as coming from `source`.
    static PortMap from_list(const std::string& devices, const std::string& source = "VELLQUIN_PORTS");

    // Port `port` (1-based); nullptr when it names no device (an entry with
    // no device stands for a number nothing holds).
    const PortEntry* entry(int port) const;
    int size() const { return static_cast<int>(entries_.size()); }

private:
    std::vector<PortEntry> entries_;
};

// What the programs' --help says of VELLQUIN_PORTS.
inline constexpr const char* kPortsEnvironmentHelp =
    "Environment:\n"
    "  VELLQUIN_PORTS  names the ports explicitly, for the window and vellquin-send alike:\n"
#ifdef _WIN32
    "                  devices separated by ';' (COM7, \\\\.\\COM12); COM1 is the\n"
#else
    "                  devices separated by ':' or ';' (ptys, /dev/serial/by-id paths); COM1 is the\n"
#endif
    "                  first one named. Empty entries are ignored; with none, the system's list is used.\n"
    "  VELLQUIN_PORTS_FILE  names a file that holds such a list, read anew each time the window looks for\n"
    "                  ports, so that devices can be named while it is open. It comes before VELLQUIN_PORTS.\n";

// A device as lists show it: without "/dev/" ("ttyUSB0", "pts/2").
std::string short_device_name(const std::string& device);

// Orders device names the way ports are numbered: USB adapters first, then
// the rest, each in natural order of their names.
std::vector<std::string> order_port_names(std::vector<std::string> names);

}  // namespace vq
