#include "link/port_book.h"

#include <algorithm>

#include "link/port_opening.h"

namespace vq {

std::string port_identity(const std::string& usb_serial, const std::string& socket, const std::string& device) {
    if (!usb_serial.empty()) return "usb " + usb_serial;
    if (!socket.empty()) return "socket " + socket;
    return "device " + device;
}

int PortBook::number_for(const PortInfo& port, int chosen, std::string& from) {
    if (platform_ == Platform::Windows && !port.named) {
        const int n = port_number_of(port.device);
        return n > 0 && !at(n) ? n : 0;
    }
    int n = 1;
    while (at(n)) ++n;
    if (names_a_port(n)) return n;
    // 1 to 9 are held: the device gone longest gives its number up.
    auto oldest = entries_.end();
    for (auto e = entries_.begin(); e != entries_.end(); ++e)
        if (!e->present && names_a_port(e->number) && e->number != chosen &&
            (oldest == entries_.end() || e->gone_at < oldest->gone_at))
            oldest = e;
    if (oldest == entries_.end()) return n;
    n = oldest->number;
    from = oldest->port.device;
    entries_.erase(oldest);
    return n;
}

bool PortBook::same_place(const PortInfo& known, const PortInfo& port) const {
    if (platform_ == Platform::Windows || port.named) return known.device == port.device;
    return known.identity == port.identity && known.location == port.location &&
           (!port.location.empty() || known.device == port.device);
}

bool PortBook::update(const std::vector<PortInfo>& present, std::time_t now, int chosen) {
    // Which entry each present device is: first those in the same place,
    // then a device that no other unplaced one shares its identity with
    // takes an entry of that identity (the same adapter in another socket,
    // or under another name). Each entry is taken once.
    constexpr std::size_t none = static_cast<std::size_t>(-1);
    std::vector<std::size_t> entry_of(present.size(), none);
    std::vector<bool> taken(entries_.size(), false);
    auto take = [&](std::size_t i, auto&& matches) {
        for (std::size_t k = 0; k < entries_.size(); ++k)
            if (!taken[k] && matches(entries_[k].port)) {
                taken[k] = true;
                entry_of[i] = k;
                return;
            }
    };
    for (std::size_t i = 0; i < present.size(); ++i)
        take(i, [&](const PortInfo& known) { return same_place(known, present[i]); });
    auto unplaced_alike = [&](std::size_t i) {
        int n = 0;
        for (std::size_t j = 0; j < present.size(); ++j) n += entry_of[j] == none && present[j].identity == present[i].identity;
        return n;
    };
    for (std::size_t i = 0; i < present.size() && platform_ != Platform::Windows; ++i)
        if (entry_of[i] == none && unplaced_alike(i) == 1)
            take(i, [&](const PortInfo& known) { return known.identity == present[i].identity; });

    bool changed = false;
    for (std::size_t i = 0; i < present.size(); ++i)
        if (entry_of[i] != none && present[i].missing) taken[entry_of[i]] = false;
    for (std::size_t k = 0; k < entries_.size(); ++k) {
        Entry& e = entries_[k];
        changed |= taken[k] != e.present;
        if (!taken[k] && e.present) e.gone_at = now;
        e.present = taken[k];
    }
    for (std::size_t i = 0; i < present.size(); ++i) {
        if (entry_of[i] == none) continue;
        PortInfo& was = entries_[entry_of[i]].port;
        const PortInfo& p = present[i];
        changed |= was.device != p.device || was.permitted != p.permitted || was.description != p.description;
        was = p;
    }
    // New devices last: one may take the number of an entry gone longest.
    bool added = false;
    for (std::size_t i = 0; i < present.size(); ++i) {
        if (entry_of[i] != none) continue;
        const PortInfo& p = present[i];
        std::string from;
        const int n = number_for(p, chosen, from);
        if (n == 0) continue;
        entries_.push_back({n, p, !p.missing, looked_, p.missing ? now : 0, from});
        changed = added = true;
    }
    if (added)
        std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) { return a.number < b.number; });
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
