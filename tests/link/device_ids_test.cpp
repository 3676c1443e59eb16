#include "link/device_ids.h"

#include <gtest/gtest.h>

namespace vq {
namespace {

TEST(DeviceIds, AComNameOpensAsADevicePathAndNamesItsNumber) {
    const struct {
        const char* name;
        const char* path;
        int number;
    } rows[] = {
        {"COM3", "\\\\.\\COM3", 3},     {"com12", "\\\\.\\com12", 12}, {"\\\\.\\COM12", "\\\\.\\COM12", 12},
        {"COM256", "\\\\.\\COM256", 256}, {"COM257", "COM257", 0},     {"COM0", "COM0", 0},
        {"COM", "COM", 0},              {"COM1x", "COM1x", 0},         {"/dev/ttyUSB0", "/dev/ttyUSB0", 0},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(win32_device_path(r.name), r.path) << r.name;
        EXPECT_EQ(com_number_of(r.name), r.number) << r.name;
    }
}

TEST(DeviceIds, AnInstanceIdNamesTheAdaptersVendorProductAndSerialWhereWindowsDidNotMakeItUp) {
    const struct {
        const char* id;
        const char* words;  // nullptr: no USB identity
        const char* usb_interface;
    } rows[] = {
        {"USB\\VID_10C4&PID_EA60\\0001", "10C4:EA60, serial 0001", ""},
        {"usb\\vid_1a86&pid_7523\\5&1a2b3c4d&0&2", "1A86:7523", ""},  // CH340: no serial of its own
        {"FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", "0403:6001, serial A50285BI", "A"},
        {"FTDIBUS\\VID_0403+PID_6010+FT9ZB\\0000", "0403:6010, serial FT9Z", "B"},  // a dual adapter's channel B
        {"USB\\VID_2341&PID_0043&MI_00\\6&2E3A1B&0&0000", "2341:0043", "MI_00"},
        {"USB\\VID_2341&PID_0043&MI_02\\6&2E3A1B&0&0002", "2341:0043", "MI_02"},
        {"ACPI\\PNP0501\\1", nullptr, ""},
        {"USB\\VID_12\\X", nullptr, ""},
        {"", nullptr, ""},
    };
    for (const auto& r : rows) {
        const auto ids = usb_ids_of_instance(r.id);
        ASSERT_EQ(ids.has_value(), r.words != nullptr) << r.id;
        if (ids) {
            EXPECT_EQ(usb_ids_words(*ids), r.words) << r.id;
            EXPECT_EQ(ids->usb_interface, r.usb_interface) << r.id;
        }
    }
}

TEST(DeviceIds, ACompositeDevicesPortTakesItsParentsSerialAndKeepsItsOwnInterface) {
    const struct {
        const char *id, *parent, *words, *usb_interface;
    } rows[] = {
        {"USB\\VID_2341&PID_0043&MI_02\\6&2E3A1B&0&0002", "USB\\VID_2341&PID_0043\\85736323", "2341:0043, serial 85736323",
         "MI_02"},
        {"USB\\VID_2341&PID_0043&MI_02\\6&2E3A1B&0&0002", "USB\\VID_05E3&PID_0610\\HUB1", "2341:0043", "MI_02"},  // a hub
        {"USB\\VID_2341&PID_0043&MI_02\\6&2E3A1B&0&0002", "", "2341:0043", "MI_02"},
        {"USB\\VID_10C4&PID_EA60\\0001", "USB\\VID_10C4&PID_EA60\\OTHER", "10C4:EA60, serial 0001", ""},  // its own
    };
    for (const auto& r : rows) {
        const auto ids = usb_ids_of_port(r.id, r.parent);
        ASSERT_TRUE(ids) << r.id;
        EXPECT_EQ(usb_ids_words(*ids), r.words) << r.parent;
        EXPECT_EQ(ids->usb_interface, r.usb_interface) << r.parent;
    }
}

}  // namespace
}  // namespace vq
