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

// Board after board, each with a serial number of its own: once 1 to 9 are
// held, the next board takes the number of the one gone longest, but never
// a present one's, nor the one chosen in the window; a description that
// changes is a change of the list.
TEST(PortBook, TheTenthBoardTakesTheNumberOfTheBoardGoneLongest) {
    auto board = [](int i) {
        return PortInfo{"/dev/ttyACM" + std::to_string(i), "board", "usb 1234:5678 SN" + std::to_string(i)};
    };
    PortBook book(Platform::Linux);
    std::time_t t = 1000;
    for (int i = 0; i < 9; ++i) book.update({board(i)}, t += 10), book.update({}, t += 10);  // flashed, unplugged
    EXPECT_TRUE(book.update({board(9)}, t += 10, 1));
    ASSERT_NE(book.at(2), nullptr) << "COM1 is chosen, so COM2, gone longest after it, is given again";
    EXPECT_EQ(book.at(2)->port.device, "/dev/ttyACM9");
    EXPECT_EQ(book.at(2)->given_again_from, "/dev/ttyACM1");

    std::vector<PortInfo> ten;
    for (int i = 0; i < 10; ++i) ten.push_back(board(i));
    PortBook full(Platform::Linux);
    full.update(ten, t);
    EXPECT_EQ(full.at(10)->port.device, "/dev/ttyACM9") << "never a present board's number";
    ten.front().description = "board, bootloader mode";
    EXPECT_TRUE(full.update(ten, t)) << "a new description is a change";
}

// Clone adapters share a serial number, and the channels of one adapter
// share theirs: each present device keeps a number of its own.
TEST(PortBook, DevicesThatShareAnIdentityNeverShareANumber) {
    const std::string clone = "usb 0403:6001 CLONE if00", socket = "pci-0000:00:14.0-usb-0:";
    const PortInfo twin1{"/dev/ttyUSB0", "", clone, true, socket + "1:1.0-port0"},
        twin2{"/dev/ttyUSB1", "", clone, true, socket + "2:1.0-port0"},
        twin1_again{"/dev/ttyUSB4", "", clone, true, socket + "1:1.0-port0"},
        channel_a{"/dev/ttyUSB2", "", "usb 0403:6010 FT9Z if00", true, socket + "3:1.0-port0"},
        channel_b{"/dev/ttyUSB3", "", "usb 0403:6010 FT9Z if01", true, socket + "3:1.1-port0"},
        moved_b{"/dev/ttyUSB5", "", "usb 0403:6010 FT9Z if01", true, socket + "4:1.1-port0"},
        twin1_hub{"/dev/ttyUSB6", "", clone, true, socket + "5.1:1.0-port0"},
        twin2_hub{"/dev/ttyUSB7", "", clone, true, socket + "5.2:1.0-port0"},
        bare1{"/dev/ttyS4", "", "device /dev/ttyS4"}, no_socket1{"/dev/ttyACM0", "", "usb 2341:0043 1"},
        no_socket2{"/dev/ttyACM1", "", "usb 2341:0043 1"}, com3{"COM3", "", "usb 0403:6001 A1 A"},
        com7{"COM7", "", "usb 0403:6001 A1 A"}, com5{"COM5", "", "usb 2341:0043 1 MI_00"},
        com6{"COM6", "", "usb 2341:0043 1 MI_02"}, com3_other{"COM3", "", "usb 10c4:ea60 9"};
    const struct {
        const char* what;
        Platform platform;
        std::vector<std::vector<PortInfo>> looks;
        std::vector<std::string> numbered;
    } rows[] = {
        {"two clones", Platform::Linux, {{twin1, twin2}}, {"1 /dev/ttyUSB0", "2 /dev/ttyUSB1"}},
        {"a clone unplugged, and plugged in again under another name",
         Platform::Linux,
         {{twin1, twin2}, {twin2}, {twin2, twin1_again}},
         {"1 /dev/ttyUSB4", "2 /dev/ttyUSB1"}},
        {"a clone unplugged", Platform::Linux, {{twin1, twin2}, {twin2}}, {"1 /dev/ttyUSB0 gone", "2 /dev/ttyUSB1"}},
        {"the channels of a dual adapter, one moved to another socket alone",
         Platform::Linux,
         {{channel_a, channel_b, bare1}, {channel_a, moved_b, bare1}},
         {"1 /dev/ttyUSB2", "2 /dev/ttyUSB5", "3 /dev/ttyS4"}},
        {"a hub of clones moved whole to another socket: new numbers, never one shared",
         Platform::Linux,
         {{twin1, twin2}, {twin1_hub, twin2_hub}},
         {"1 /dev/ttyUSB0 gone", "2 /dev/ttyUSB1 gone", "3 /dev/ttyUSB6 new", "4 /dev/ttyUSB7 new"}},
        {"clones with no socket known, by their names",
         Platform::Linux,
         {{no_socket1, no_socket2}, {no_socket1, no_socket2}},
         {"1 /dev/ttyACM0", "2 /dev/ttyACM1"}},
        {"a composite board's two interfaces", Platform::Windows, {{com5, com6}}, {"5 COM5", "6 COM6"}},
        {"an adapter given another COM number, and its old one taken by another",
         Platform::Windows,
         {{com3}, {com7}, {com3_other, com7}},
         {"3 COM3", "7 COM7 new"}},
    };
    for (const auto& r : rows) {
        PortBook book(r.platform);
        for (const auto& look : r.looks) book.update(look);
        EXPECT_EQ(numbered(book), r.numbered) << r.what;
    }
}

TEST(PortBook, ANamedDeviceThatIsNotThereKeepsItsNumberAndShowsAsGone) {
    PortInfo named{"/dev/pts/9", "from VELLQUIN_PORTS", "device /dev/pts/9", true, {}, true};
    const PortInfo other{"/dev/pts/3", "from VELLQUIN_PORTS", "device /dev/pts/3"};
    PortBook book(Platform::Linux);
    book.update({named, other});
    EXPECT_EQ(numbered(book), (std::vector<std::string>{"1 /dev/pts/9 gone", "2 /dev/pts/3"}));
    named.missing = false;
    EXPECT_TRUE(book.update({named, other}));
    EXPECT_EQ(numbered(book), (std::vector<std::string>{"1 /dev/pts/9", "2 /dev/pts/3"}));
}

TEST(PortBook, OnWindowsComNIsPortN) {
    PortBook book(Platform::Windows);
    book.update({{"COM3", "USB Serial Device", "device COM3"}, {"COM12", "", "device COM12"}});
    EXPECT_EQ(numbered(book), (std::vector<std::string>{"3 COM3", "12 COM12"}));
    EXPECT_EQ(book.map().entry(3)->device, "COM3");
    EXPECT_EQ(book.map().entry(1), nullptr);

    // Named in VELLQUIN_PORTS, the first name is COM1, as on Linux.
    PortBook named(Platform::Windows);
    std::vector<PortInfo> list;
    for (const char* device : {"COM7", "\\.\CNCA0", "\\.\COM12"})
        list.push_back({device, "", port_identity("", "", device), true, {}, false, true});
    named.update(list);
    EXPECT_EQ(numbered(named), (std::vector<std::string>{"1 COM7", "2 \\.\CNCA0", "3 \\.\COM12"}));
}

TEST(PortIdentity, PrefersTheUsbSerialNumberThenTheSocketThenTheName) {
    EXPECT_EQ(port_identity("10c4:ea60 0001", "pci-0000:00:14.0-usb-0:2:1.0-port0", "/dev/ttyUSB0"), "usb 10c4:ea60 0001");
    EXPECT_EQ(port_identity("", "pci-0000:00:14.0-usb-0:2:1.0-port0", "/dev/ttyUSB0"),
              "socket pci-0000:00:14.0-usb-0:2:1.0-port0");
    EXPECT_EQ(port_identity("", "", "/dev/ttyUSB0"), "device /dev/ttyUSB0");
}

}  // namespace
}  // namespace vq
