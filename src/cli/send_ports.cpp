#include "cli/send_ports.h"

#include <cctype>

#include "link/discovery.h"
#include "link/qt_serial_link.h"
#include "protocol/failure.h"

namespace vq::cli {

bool is_com_name(std::string_view port) {
    if (port.size() < 4) return false;
    for (std::size_t i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(port[i])) != "COM"[i]) return false;
    for (char ch : port.substr(3))
        if (!std::isdigit(static_cast<unsigned char>(ch))) return false;
    return true;
}

ChosenPort choose_port(const std::optional<std::string>& port) {
    if (port && !is_com_name(*port))
        return {PortMap(std::vector<PortEntry>{{*port, "given on the command line"}}), "COM1"};
    ChosenPort chosen{PortMap::from_environment_or_system(), {}};
    if (port) {
        chosen.choice = "COM" + port->substr(3);
        return chosen;
    }
    QtSerialLink probe(chosen.ports);
    MemoryPortList list;
    DiscoveryReport report;
    discover_ports(probe, list, &report);
    chosen.choice = list.text();
    if (chosen.choice.empty() && !report.denied.empty()) chosen.choice = "COM" + std::to_string(report.denied.front());
    return chosen;
}

std::vector<std::string> describe_ports(const PortMap& ports) {
    if (ports.size() == 0) return {"no serial ports found"};
    std::vector<std::string> lines;
    QtSerialLink link(ports);
    for (int n = 1; n <= ports.size(); ++n) {
        const PortEntry* e = ports.entry(n);
        std::string state = "free";
        try {
            link.setCommPort(static_cast<std::int16_t>(n));
            link.setPortOpen(true);
            link.setPortOpen(false);
        } catch (const Failure& f) {
            if (f.number() == err::PortAlreadyOpen)
                state = "busy (held by another program)";
            else if (f.number() == err::PermissionDenied)
                state = std::string("not permitted: ") + f.what();
            else
                state = std::string("cannot open: ") + f.what();
        }
        const std::string name = n <= 9 ? "COM" + std::to_string(n) : "(COM" + std::to_string(n) + ")";
        char line[512];
        std::snprintf(line, sizeof line, "%-7s %-20s %s%s", name.c_str(), e->device.c_str(), state.c_str(),
                      e->description.empty() ? "" : ("  " + e->description).c_str());
        lines.emplace_back(line);
    }
    return lines;
}

}  // namespace vq::cli
