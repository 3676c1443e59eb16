#include "link/port_opening.h"

#include <gtest/gtest.h>

#include "protocol/failure.h"
#include "support/fake_link.h"
#include "support/recording_host.h"

namespace vq {
namespace {

using test::FakeLink;
using test::PortKind;
using Ops = std::vector<std::string>;

const Ops kConfigure{"Settings=115200,N,8,1", "InputLen=1", "RThreshold=0", "InputMode=1",
                     "OutBufferCount=0",      "InBufferCount=0"};

// The operations of a call that finds the link closed, or open on `port`.
Ops opening(int port, bool opens, bool configures = true) {
    Ops ops{"PortOpen?"};
    if (!opens) ops.push_back("CommPort?");
    ops.insert(ops.end(), {"CommPort=" + std::to_string(port), "PortOpen?"});
    if (opens) ops.push_back("PortOpen=true");
    if (configures) ops.insert(ops.end(), kConfigure.begin(), kConfigure.end());
    return ops;
}

struct OpeningCase {
    const char* name;
    std::string choice;
    std::function<void(FakeLink&)> arrange;
    std::int16_t result;
    std::vector<std::string> messages;
    Ops ops;
    bool open_after;
};

void PrintTo(const OpeningCase& c, std::ostream* os) { *os << c.name; }


class PortOpeningTest : public ::testing::TestWithParam<OpeningCase> {};

TEST_P(PortOpeningTest, GivesTheResultAndMakesExactlyTheseLinkOperations) {
    const OpeningCase& c = GetParam();
    FakeLink link;
    for (int p = 1; p <= 9; ++p) link.set_port(p, PortKind::Opens);
    if (c.arrange) c.arrange(link);
    link.clear_ops();
    test::RecordingMessages messages;

    EXPECT_EQ(init_serial_port(c.choice, link, messages), c.result);
    EXPECT_EQ(messages.shown, c.messages);
    EXPECT_EQ(link.ops(), c.ops);
    EXPECT_EQ(link.open(), c.open_after);
    if (c.result == kPortReady) {
        EXPECT_EQ(link.settings(), "115200,N,8,1");
        EXPECT_EQ(link.input_len(), 1);
        EXPECT_EQ(link.waiting(), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Choices, PortOpeningTest,
    ::testing::Values(
        OpeningCase{"COM1", "COM1", nullptr, kPortReady, {}, opening(1, true), true},
        OpeningCase{"COM9", "COM9", nullptr, kPortReady, {}, opening(9, true), true},
        OpeningCase{"LastCharacterOnly", "xyz7", nullptr, kPortReady, {}, opening(7, true), true},
        OpeningCase{"Empty", "", nullptr, kPortChoiceInvalid, {"Invalid Serial Port"}, {}, false},
        OpeningCase{"EndsInZero", "COM10", nullptr, kPortChoiceInvalid, {"Invalid Serial Port"}, {}, false},
        OpeningCase{"TwoDigitsNameNoPortOneToNine", "COM11", nullptr, kPortChoiceInvalid, {"Invalid Serial Port"}, {},
                    false},
        OpeningCase{"EndsInALetter", "COMx", nullptr, kPortChoiceInvalid, {"Invalid Serial Port"}, {}, false},
        OpeningCase{"FullWidthDigit", "COM\xEF\xBC\x93", nullptr, kPortChoiceInvalid, {"Invalid Serial Port"}, {},
                    false},
        OpeningCase{"Held", "COM2", [](FakeLink& l) { l.set_port(2, PortKind::Held); }, kPortFailed, {},
                    opening(2, true, false), false},
        OpeningCase{"AlreadyOpen", "COM3",
                    [](FakeLink& l) {
                        l.setCommPort(3);
                        l.setPortOpen(true);
                        l.deliver({1, 2, 3});
                    },
                    kPortReady, {}, opening(3, false), true},
        OpeningCase{"OpenOnAnotherNumber", "COM4",
                    [](FakeLink& l) {
                        l.setCommPort(3);
                        l.setPortOpen(true);
                    },
                    kPortReady, {},
                    [] {
                        Ops ops{"PortOpen?", "CommPort?", "PortOpen=false", "CommPort=4", "PortOpen?", "PortOpen=true"};
                        ops.insert(ops.end(), kConfigure.begin(), kConfigure.end());
                        return ops;
                    }(),
                    true},
        OpeningCase{"SettingsRefused", "COM1", [](FakeLink& l) { l.fail("Settings", err::SetCommStateFailed); },
                    kPortFailed, {}, [] {
                        Ops ops = opening(1, true, false);
                        ops.push_back("Settings=115200,N,8,1");
                        return ops;
                    }(),
                    true},
        OpeningCase{"InBufferClearFails", "COM1", [](FakeLink& l) { l.fail("InBufferCount", err::ReadFailed); },
                    kPortFailed, {}, opening(1, true), true}),
    [](const auto& p) { return p.param.name; });

TEST(PortNumberOf, TakesTheDigitsAtTheEnd) {
    const struct { const char* text; int port; } rows[] = {
        {"COM1", 1},  {"COM9", 9},   {"7", 7},   {"xyz7", 7},           {"COM10", 10},          {"COM11", 11},
        {"COM0", 0},  {"", 0},       {"COM", 0}, {"COM 3 ", 0},         {"/dev/ttyUSB0", 0},    {"COM12345", -1}};
    for (const auto& r : rows) EXPECT_EQ(port_number_of(r.text), r.port) << r.text;
}

}  // namespace
}  // namespace vq
