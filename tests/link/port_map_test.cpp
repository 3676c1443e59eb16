#include "link/port_map.h"

#include <gtest/gtest.h>

namespace vq {
namespace {

TEST(PortNames, UsbAdaptersFirstThenTheRestInNaturalOrder) {
    const std::vector<std::string> seen{"/dev/ttyS1",    "/dev/ttyUSB10", "/dev/ttyS0",   "/dev/ttyACM0",
                                        "/dev/ttyUSB2",  "/dev/ttyS10",   "/dev/ttyAMA0", "/dev/ttyUSB0"};
    const std::vector<std::string> expected{"/dev/ttyACM0", "/dev/ttyUSB0", "/dev/ttyUSB2", "/dev/ttyUSB10",
                                            "/dev/ttyAMA0", "/dev/ttyS0",   "/dev/ttyS1",   "/dev/ttyS10"};
    EXPECT_EQ(order_port_names(seen), expected);
}

TEST(PortMap, NumbersFromOneAndNamesNothingPastTheLast) {
    const PortMap map({{"/dev/ttyUSB0", "adapter"}, {"/dev/ttyS0", ""}});
    ASSERT_NE(map.entry(1), nullptr);
    EXPECT_EQ(map.entry(1)->device, "/dev/ttyUSB0");
    EXPECT_EQ(map.entry(2)->device, "/dev/ttyS0");
    EXPECT_EQ(map.entry(3), nullptr);
    EXPECT_EQ(map.entry(0), nullptr);
}

TEST(PortMap, AListOfDevicesNumbersThemInTheirOrder) {
    const PortMap map = PortMap::from_list(" /dev/pts/7:/dev/ttyUSB3;; :/dev/ttyS0 ");
    ASSERT_EQ(map.size(), 3);
    EXPECT_EQ(map.entry(1)->device, "/dev/pts/7");
    EXPECT_EQ(map.entry(2)->device, "/dev/ttyUSB3");
    EXPECT_EQ(map.entry(3)->device, "/dev/ttyS0");
    EXPECT_EQ(PortMap::from_list("").size(), 0);
    EXPECT_EQ(PortMap::from_list(" ; : ").size(), 0);
}

}  // namespace
}  // namespace vq
