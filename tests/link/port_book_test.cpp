#include "link/port_book.h"

#include <gtest/gtest.h>

namespace vq {
namespace {

// "1 /dev/ttyUSB0", with " gone" or " new" behind it.
std::vector<std::string> numbered(const PortBook& book) {
    std::vector<std::string> lines;
    for (const auto& e : book.entries())
        lines.push_back(std::to_string(e.number) + " " + e.port.device + (!e.present ? " gone" : e.is_new ? " new" : ""));
    return lines;
}

TEST(PortBook, ADeviceKeepsItsNumberThroughAReplugAndANewOneTakesTheLowestFree) {
    const PortInfo a{"/dev/ttyUSB0", "CP2102", "usb 10c4:ea60 A"}, b{"/dev/ttyUSB1", "", "usb 10c4:ea60 B"};
    const PortInfo a_again{"/dev/ttyUSB2", "CP2102", "usb 10c4:ea60 A"}, c{"/dev/ttyACM0", "", "device /dev/ttyACM0"};
    const struct {
        const char* what;
        std::vector<PortInfo> present;
        bool changed;
        std::vector<std::string> numbered;
    } steps[] = {
        {"start", {a, b}, true, {"1 /dev/ttyUSB0", "2 /dev/ttyUSB1"}},
        {"nothing new", {a, b}, false, {"1 /dev/ttyUSB0", "2 /dev/ttyUSB1"}},
        {"A unplugged", {b}, true, {"1 /dev/ttyUSB0 gone", "2 /dev/ttyUSB1"}},
        {"A back under another name", {b, a_again}, true, {"1 /dev/ttyUSB2", "2 /dev/ttyUSB1"}},
        {"A at yet another name, quicker than a look", {b, a}, true, {"1 /dev/ttyUSB0", "2 /dev/ttyUSB1"}},
        {"A as before", {b, a_again}, true, {"1 /dev/ttyUSB2", "2 /dev/ttyUSB1"}},
        {"B gone, C new", {a_again, c}, true, {"1 /dev/ttyUSB2", "2 /dev/ttyUSB1 gone", "3 /dev/ttyACM0 new"}},
    };
    PortBook book(Platform::Linux);
    for (const auto& s : steps) {
        EXPECT_EQ(book.update(s.present), s.changed) << s.what;
        EXPECT_EQ(numbered(book), s.numbered) << s.what;
    }
    EXPECT_EQ(book.map().entry(2)->device, "/dev/ttyUSB1") << "a device that is gone keeps its last name";
}

TEST(PortBook, OnWindowsComNIsPortN) {
    PortBook book(Platform::Windows);
    book.update({{"COM3", "USB Serial Device", "device COM3"}, {"COM12", "", "device COM12"}});
    EXPECT_EQ(numbered(book), (std::vector<std::string>{"3 COM3", "12 COM12"}));
    EXPECT_EQ(book.map().entry(3)->device, "COM3");
    EXPECT_EQ(book.map().entry(1), nullptr);
}

TEST(PortIdentity, PrefersTheUsbSerialNumberThenTheSocketThenTheName) {
    EXPECT_EQ(port_identity("10c4:ea60 0001", "pci-0000:00:14.0-usb-0:2:1.0-port0", "/dev/ttyUSB0"), "usb 10c4:ea60 0001");
    EXPECT_EQ(port_identity("", "pci-0000:00:14.0-usb-0:2:1.0-port0", "/dev/ttyUSB0"),
              "socket pci-0000:00:14.0-usb-0:2:1.0-port0");
    EXPECT_EQ(port_identity("", "", "/dev/ttyUSB0"), "device /dev/ttyUSB0");
}

}  // namespace
}  // namespace vq
