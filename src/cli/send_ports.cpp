#include "cli/send_ports.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>

#include "link/discovery.h"
#include "link/latency_timer.h"
#include "link/port_errors.h"
#include "link/port_sources.h"
#include "link/system_serial_link.h"
#include "protocol/failure.h"
#include "protocol/image_file.h"

namespace vq::cli {

namespace {

#ifdef __linux__
std::string first_line(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}
#endif

// The link in `links` (as serial_links gives them) that leads to `device`.
std::string link_to(const std::map<std::string, std::string>& links, const std::string& device) {
    std::error_code ec;
    const auto real = std::filesystem::canonical(path_from_utf8(device), ec);
    if (ec) return {};
    const auto link = links.find(utf8_from_path(real));
    return link == links.end() ? std::string() : link->second;
}

}  // namespace

std::string usb_identity_of(const std::string& device) {
    std::error_code ec;
    const auto real = std::filesystem::canonical(path_from_utf8(device), ec);
#ifdef __linux__
    // The tty's USB device, found from its own sysfs entry: enumerating every
    // port would cost each upload thousands of file operations.
    if (ec) return {};
    auto dir = std::filesystem::canonical(std::filesystem::path("/sys/class/tty") / real.filename() / "device", ec);
    for (; !ec && dir.has_relative_path(); dir = dir.parent_path()) {
        if (!std::filesystem::exists(dir / "idVendor", ec)) continue;
        std::string text = first_line(dir / "idVendor") + ":" + first_line(dir / "idProduct");
        if (const std::string serial = first_line(dir / "serial"); !serial.empty()) text += ", serial " + serial;
        const std::string maker = first_line(dir / "manufacturer"), product = first_line(dir / "product");
        if (!maker.empty() || !product.empty()) text += ", " + maker + (maker.empty() || product.empty() ? "" : " ") + product;
        return text;
    }
    return {};
#else
    (void)real;
    return {};
#endif
}

std::string latency_words(const std::string& device) {
    std::error_code ec;
    const auto real = std::filesystem::canonical(path_from_utf8(device), ec);
    const auto ms = ec ? std::nullopt : latency_timer_ms("/sys/class/tty", real.filename().string());
    return ms ? "latency timer " + std::to_string(*ms) + " ms" : std::string();
}

bool is_com_name(std::string_view port) {
    if (port.size() < 4) return false;
    for (std::size_t i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(port[i])) != "COM"[i]) return false;
    for (char ch : port.substr(3))
        if (!std::isdigit(static_cast<unsigned char>(ch))) return false;
    return true;
}

std::vector<PortTarget> choose_ports(const std::vector<std::string>& ports, bool all) {
    std::vector<PortTarget> targets;
    // Numbering the system's ports is needed only for COM names.
    const bool by_number = ports.empty() || std::any_of(ports.begin(), ports.end(), is_com_name);
    const PortMap numbered = by_number ? PortMap::from_environment_or_system() : PortMap();
    for (const std::string& port : ports) {
        if (is_com_name(port))
            targets.push_back({port, numbered, "COM" + port.substr(3)});
        else
            targets.push_back({port, PortMap(std::vector<PortEntry>{{port, "given on the command line"}}), "COM1"});
    }
    if (!ports.empty()) return targets;

    SystemSerialLink probe(numbered);
    MemoryPortList list;
    DiscoveryReport report;
    discover_ports(probe, list, &report);
    if (all) {
        for (const std::string& name : list.items()) targets.push_back({name, numbered, name});
        if (!targets.empty()) return targets;
    }
    std::string choice = list.text();
    if (choice.empty() && !report.denied.empty()) choice = "COM" + std::to_string(report.denied.front());
    targets.push_back({choice, numbered, choice});
    return targets;
}

DefaultPort default_port(PortSource& source, Platform platform) {
    PortBook book(platform);
    book.update(source.present());
    std::vector<const PortBook::Entry*> present, usb;
    for (const PortBook::Entry& e : book.entries()) {
        if (!e.present) continue;
        present.push_back(&e);
        if (e.port.identity.rfind("usb ", 0) == 0) usb.push_back(&e);
    }
    const auto name = [](const PortBook::Entry& e) { return "COM" + std::to_string(e.number); };
    if (present.empty()) return {};
    if (present.size() == 1) return {name(*present.front()), {}};
    if (usb.size() == 1) return {name(*usb.front()), {}};
    // Windows lists COM names that lead nowhere (Wine, up to COM65): without
    // a USB adapter among them, the first that opens is taken, as the
    // window's list has it.
    if (usb.empty() && platform == Platform::Windows) return {};
    // Sending to the first of several may reach a built-in port, often a console.
    const auto& candidates = usb.empty() ? present : usb;
    std::string problem = "give --port: " + std::to_string(candidates.size()) + " ports could be meant:";
    for (const PortBook::Entry* e : candidates) {
        problem += " " + name(*e) + " (" + e->port.device +
                   (e->port.description.empty() ? std::string() : ", " + e->port.description) + ")";
        if (e != candidates.back()) problem += ",";
    }
    return {{}, problem};
}

std::vector<std::string> describe_ports(const PortMap& ports) {
    if (ports.size() == 0) return {"no serial ports found"};
    std::vector<std::string> lines;
    SystemSerialLink link(ports);
    const auto by_id_links = serial_links("/dev/serial/by-id");
    for (int n = 1; n <= ports.size(); ++n) {
        const PortEntry* e = ports.entry(n);
        if (!e) continue;
        // Above COM9 Windows ports are not opened: Wine puts this machine's
        // own ports there, a console among them. Shown only when a driver
        // describes them, not the dozens Wine names that lead nowhere.
        const bool unprobed = kThisPlatform == Platform::Windows && n > 9;
        if (unprobed && e->description.empty()) continue;
        std::string state = unprobed ? "not probed: give --port to use it" : "free";
        try {
            if (!unprobed) {
                link.setCommPort(static_cast<std::int16_t>(n));
                link.setPortOpen(true);
                link.setPortOpen(false);
            }
        } catch (const Failure& f) {
            if (f.number() == err::PortAlreadyOpen)
                state = "busy (held by another program)";
            else if (f.number() == err::PermissionDenied)
                state = std::string("not permitted: ") + f.what();
            else if (kThisPlatform == Platform::Windows && e->description.empty())
                continue;  // COMn that the system does not list, and that does not open
            else
                state = std::string("cannot open: ") + f.what();
        }
        const std::string name = unprobed ? "" : n <= 9 ? "COM" + std::to_string(n) : "(COM" + std::to_string(n) + ")";
        char line[512];
        std::snprintf(line, sizeof line, "%-7s %-20s %s", name.c_str(), e->device.c_str(), state.c_str());
        lines.emplace_back(line);
        const std::string identity = usb_identity_of(e->device), by_id = link_to(by_id_links, e->device);
        const std::string about = !identity.empty() ? identity : e->description;
        if (!about.empty()) lines.push_back("        " + about);
        if (!by_id.empty()) lines.push_back("        " + by_id);
        if (const std::string latency = latency_words(e->device); !latency.empty()) lines.push_back("        " + latency);
    }
    return lines;
}

}  // namespace vq::cli
