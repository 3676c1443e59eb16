#pragma once
// What Windows names serial ports and USB devices with, read and written as
// plain text, so that it can be checked on any system.

#include <optional>
#include <string>

namespace vq {

// A port as CreateFileW opens it: "COM3" and "\\.\COM3" give "\\.\COM3",
// which also reaches ports numbered 10 and above. Anything else is kept.
std::string win32_device_path(const std::string& device);

// The n of "COMn", "\\.\COMn" (any case); 0 for any other name.
int com_number_of(const std::string& device);

// The USB identity in a device instance id, as SetupAPI gives it:
// USB\VID_10C4&PID_EA60\0001 and FTDIBUS\VID_0403+PID_6001+A50285BIA\0000
// name vendor, product and serial number (A50285BI: FTDI adds the chip's
// channel letter, A or B, which is the interface). The serial is empty where
// Windows made the last part up (it holds '&': 5&1a2b3c4d&0&2). An interface
// of a composite device (USB\VID_2341&PID_0043&MI_02\...) is MI_02.
struct UsbIds {
    std::string vid, pid, serial;  // as given, upper case hex
    std::string usb_interface{};   // the FTDI channel letter, or MI_xx; may be empty ("interface" is a macro on Windows)
};
std::optional<UsbIds> usb_ids_of_instance(const std::string& instance_id);

// The identity of a port from its own instance id and its parent's: an
// interface of a composite device (MI_xx) has no serial number of its own
// and takes its parent's, when the parent is the same vendor's device, while
// keeping its own interface.
std::optional<UsbIds> usb_ids_of_port(const std::string& instance_id, const std::string& parent_instance_id);

// "10C4:EA60, serial 0001": the identity as --list and the logs show it.
std::string usb_ids_words(const UsbIds& ids);

}  // namespace vq
