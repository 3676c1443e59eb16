#include "link/port_map.h"

#include <algorithm>
#include <cctype>

namespace vq {
namespace {

std::string base_name(const std::string& device) {
    const auto slash = device.find_last_of('/');
    return slash == std::string::npos ? device : device.substr(slash + 1);
}

bool is_usb_adapter(const std::string& device) {
    const std::string name = base_name(device);
    return name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0;
}

// "ttyUSB2" < "ttyUSB10": digit runs compare by value.
bool natural_less(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) && std::isdigit(static_cast<unsigned char>(b[j]))) {
            std::size_t ie = i, je = j;
            while (ie < a.size() && std::isdigit(static_cast<unsigned char>(a[ie]))) ++ie;
            while (je < b.size() && std::isdigit(static_cast<unsigned char>(b[je]))) ++je;
            std::string da = a.substr(i, ie - i), db = b.substr(j, je - j);
            da.erase(0, std::min(da.find_first_not_of('0'), da.size()));
            db.erase(0, std::min(db.find_first_not_of('0'), db.size()));
            if (da.size() != db.size()) return da.size() < db.size();
            if (da != db) return da < db;
            i = ie;
            j = je;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

}  // namespace

std::vector<std::string> order_port_names(std::vector<std::string> names) {
    std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const bool ua = is_usb_adapter(a), ub = is_usb_adapter(b);
        if (ua != ub) return ua;
        return natural_less(base_name(a), base_name(b));
    });
    return names;
}

std::string short_device_name(const std::string& device) {
    return device.rfind("/dev/", 0) == 0 ? device.substr(5) : device;
}

PortMap PortMap::from_list(const std::string& devices, const std::string& source) {
    std::vector<PortEntry> entries;
    for (std::size_t start = 0; start <= devices.size();) {
        const std::size_t end = std::min(devices.find_first_of(":;", start), devices.size());
        std::string entry = devices.substr(start, end - start);
        entry.erase(0, entry.find_first_not_of(" \t"));
        entry.erase(entry.find_last_not_of(" \t") + 1);
        if (!entry.empty()) entries.push_back({entry, "from " + source});
        start = end + 1;
    }
    return PortMap(std::move(entries));
}

const PortEntry* PortMap::entry(int port) const {
    if (port < 1 || port > size()) return nullptr;
    const PortEntry& e = entries_[static_cast<std::size_t>(port - 1)];
    return e.device.empty() ? nullptr : &e;
}

}  // namespace vq
