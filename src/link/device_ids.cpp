#include "link/device_ids.h"

#include <cctype>

namespace vq {
namespace {

std::string upper(std::string text) {
    for (char& ch : text) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return text;
}

// The hex digits after `key` in `text` ("VID_" in "USB\VID_10C4&..."):
// `count` of them, or nothing.
std::string hex_after(const std::string& text, const std::string& key, std::size_t count = 4) {
    const auto at = text.find(key);
    if (at == std::string::npos) return {};
    const std::string digits = text.substr(at + key.size(), count);
    if (digits.size() != count) return {};
    for (char ch : digits)
        if (!std::isxdigit(static_cast<unsigned char>(ch))) return {};
    return digits;
}

}  // namespace

std::string win32_device_path(const std::string& device) {
    if (device.rfind("\\\\.\\", 0) == 0) return device;
    return com_number_of(device) > 0 ? "\\\\.\\" + device : device;
}

int com_number_of(const std::string& device) {
    const std::string name = upper(device.rfind("\\\\.\\", 0) == 0 ? device.substr(4) : device);
    if (name.size() < 4 || name.size() > 6 || name.compare(0, 3, "COM") != 0 || name[3] == '0') return 0;
    int n = 0;
    for (char ch : name.substr(3)) {
        if (!std::isdigit(static_cast<unsigned char>(ch))) return 0;
        n = n * 10 + (ch - '0');
    }
    return n <= 256 ? n : 0;
}

std::optional<UsbIds> usb_ids_of_instance(const std::string& instance_id) {
    const std::string id = upper(instance_id);
    UsbIds ids{hex_after(id, "VID_"), hex_after(id, "PID_"), {}};
    if (ids.vid.empty() || ids.pid.empty()) return std::nullopt;
    if (const std::string mi = hex_after(id, "&MI_", 2); !mi.empty()) ids.usb_interface = "MI_" + mi;
    if (id.rfind("FTDIBUS\\", 0) == 0) {
        // FTDIBUS\VID_0403+PID_6001+A50285BIA\0000: the serial ends the first part, and
        // the channel letter (A, B) of a multi-port chip follows it.
        const auto plus = id.find('+', id.find("PID_"));
        const auto slash = id.find('\\', 8);
        if (plus != std::string::npos && slash != std::string::npos && slash > plus + 2) {
            ids.serial = instance_id.substr(plus + 1, slash - plus - 2);
            ids.usb_interface = id.substr(slash - 1, 1);
        }
    } else if (const auto slash = id.rfind('\\'); slash != std::string::npos && slash > id.find("PID_")) {
        const std::string last = instance_id.substr(slash + 1);
        if (last.find('&') == std::string::npos) ids.serial = last;
    }
    return ids;
}

std::string usb_ids_words(const UsbIds& ids) {
    return ids.vid + ":" + ids.pid + (ids.serial.empty() ? "" : ", serial " + ids.serial);
}

std::optional<UsbIds> usb_ids_of_port(const std::string& instance_id, const std::string& parent_instance_id) {
    std::optional<UsbIds> ids = usb_ids_of_instance(instance_id);
    if (ids && ids->serial.empty())
        if (const auto up = usb_ids_of_instance(parent_instance_id); up && up->vid == ids->vid) ids->serial = up->serial;
    return ids;
}

}  // namespace vq
