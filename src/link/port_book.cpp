#include "link/port_book.h"

#include <algorithm>

#include "link/port_opening.h"

namespace vq {

std::string port_identity(const std::string& usb_serial, const std::string& socket, const std::string& device) {
    if (!usb_serial.empty()) return "usb " + usb_serial;
    if (!socket.empty()) return "socket " + socket;
    return "device " + device;
}

int PortBook::number_for(const PortInfo& port) const {
    if (platform_ == Platform::Windows) {
        const int n = port_number_of(port.device);
        return n > 0 && !at(n) ? n : 0;
    }
    int n = 1;
    while (at(n)) ++n;
    return n;
}

bool PortBook::update(const std::vector<PortInfo>& present, std::time_t now) {
    bool changed = false;
    for (Entry& e : entries_) {
        const bool here = std::any_of(present.begin(), present.end(),
                                      [&](const PortInfo& p) { return p.identity == e.port.identity; });
        changed |= here != e.present;
        if (!here && e.present) e.gone_at = now;
        e.present = here;
    }
    for (const PortInfo& p : present) {
        const auto known = std::find_if(entries_.begin(), entries_.end(),
                                        [&](const Entry& e) { return e.port.identity == p.identity; });
        if (known != entries_.end()) {
            changed |= known->port.device != p.device || known->port.permitted != p.permitted;
            known->port = p;
            continue;
        }
        const int n = number_for(p);
        if (n == 0) continue;
        entries_.push_back({n, p, true, looked_});
        std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) { return a.number < b.number; });
        changed = true;
    }
    looked_ = true;
    return changed;
}

const PortBook::Entry* PortBook::at(int number) const {
    for (const Entry& e : entries_)
        if (e.number == number) return &e;
    return nullptr;
}

PortMap PortBook::map() const {
    std::vector<PortEntry> ports;
    for (const Entry& e : entries_) {
        ports.resize(static_cast<std::size_t>(std::max<int>(static_cast<int>(ports.size()), e.number)));
        ports[static_cast<std::size_t>(e.number - 1)] = {e.port.device, e.port.description};
    }
    return PortMap(std::move(ports));
}

}  // namespace vq
