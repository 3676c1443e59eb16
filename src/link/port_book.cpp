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

bool PortBook::same_place(const PortInfo& known, const PortInfo& port) const {
    if (platform_ == Platform::Windows) return known.device == port.device;
    return known.identity == port.identity && known.location == port.location &&
           (!port.location.empty() || known.device == port.device);
}

bool PortBook::update(const std::vector<PortInfo>& present, std::time_t now) {
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
    const std::size_t known = entries_.size();
    for (std::size_t i = 0; i < present.size(); ++i) {
        const PortInfo& p = present[i];
        if (entry_of[i] != none) {
            PortInfo& was = entries_[entry_of[i]].port;
            changed |= was.device != p.device || was.permitted != p.permitted;
            was = p;
            continue;
        }
        const int n = number_for(p);
        if (n == 0) continue;
        entries_.push_back({n, p, !p.missing, looked_, p.missing ? now : 0});
        changed = true;
    }
    if (entries_.size() != known)
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
