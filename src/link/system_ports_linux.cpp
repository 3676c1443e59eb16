// The serial devices of a Linux system, from udev.

#include <libudev.h>

#include <map>
#include <memory>

#include "link/port_sources.h"
#include "protocol/image_file.h"

namespace vq {
namespace {

std::string property(udev_device* device, const char* name) {
    const char* value = udev_device_get_property_value(device, name);
    std::string text = value ? value : "";
    for (char& ch : text)
        if (ch == '_') ch = ' ';  // udev's ID_MODEL and ID_VENDOR stand blanks for underscores
    return text;
}

// "0403:6010 A1B2C3 if01": what stays the same when the adapter is plugged
// in again, elsewhere too; empty without a serial number. The interface
// tells apart the ports of one adapter (the channels of an FT2232, the two
// ports of a composite board), which share its serial number.
std::string usb_identity(udev_device* device) {
    const char* vendor = udev_device_get_property_value(device, "ID_VENDOR_ID");
    const char* product = udev_device_get_property_value(device, "ID_MODEL_ID");
    const char* serial = udev_device_get_property_value(device, "ID_SERIAL_SHORT");
    if (!vendor || !product || !serial || !*serial) return {};
    const char* interface = udev_device_get_property_value(device, "ID_USB_INTERFACE_NUM");
    return std::string(vendor) + ":" + product + " " + serial + (interface && *interface ? std::string(" if") + interface : "");
}

}  // namespace

std::vector<PortInfo> SystemPortSource::present() {
    // The USB socket (or bus position) each adapter is plugged into.
    const auto socket_of = serial_links("/dev/serial/by-path");
    std::map<std::string, PortInfo> found;
    const std::unique_ptr<udev, udev*(*)(udev*)> context(udev_new(), &udev_unref);
    if (!context) return {};
    const std::unique_ptr<udev_enumerate, udev_enumerate*(*)(udev_enumerate*)> ttys(
        udev_enumerate_new(context.get()), &udev_enumerate_unref);
    udev_enumerate_add_match_subsystem(ttys.get(), "tty");
    udev_enumerate_scan_devices(ttys.get());
    // Where udev runs, a device it is still setting up (just plugged in)
    // has no serial number, no by-path link and root's node yet: it would
    // be numbered as a new device. It is passed over; the next look finds it
    // ready. Without udev (a container) nothing is ever set up.
    const std::unique_ptr<udev_queue, udev_queue*(*)(udev_queue*)> queue(udev_queue_new(context.get()),
                                                                          &udev_queue_unref);
    const bool udev_runs = queue && udev_queue_get_udev_is_active(queue.get()) == 1;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(ttys.get())) {
        const std::unique_ptr<udev_device, udev_device*(*)(udev_device*)> tty(
            udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)), &udev_device_unref);
        if (!tty || !udev_device_get_parent(tty.get()) || !udev_device_get_devnode(tty.get())) continue;  // virtual
        if (udev_runs && udev_device_get_is_initialized(tty.get()) != 1) continue;
        const char* type = udev_device_get_sysattr_value(tty.get(), "type");
        if (type && std::string(type) == "0") continue;  // a serial port without a UART
        const std::string device = udev_device_get_devnode(tty.get());
        std::string text = property(tty.get(), "ID_MODEL");
        const std::string maker = property(tty.get(), "ID_VENDOR");
        if (!maker.empty() && text.find(maker) == std::string::npos) text = text.empty() ? maker : maker + " " + text;
        const auto socket = socket_of.find(device);
        const std::string socket_name =
            socket == socket_of.end() ? std::string() : utf8_from_path(path_from_utf8(socket->second).filename());
        found[device] = {device, text, port_identity(usb_identity(tty.get()), socket_name, device), permitted(device),
                         socket_name};
    }
    std::vector<std::string> names;
    for (const auto& [device, info] : found) names.push_back(device);
    std::vector<PortInfo> ports;
    for (const std::string& device : order_port_names(names)) ports.push_back(found[device]);
    return ports;
}

}  // namespace vq
