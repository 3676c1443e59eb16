#include "protocol/receiver_console.h"

#include <gtest/gtest.h>

#include <regex>

#include "support/fake_link.h"
#include "support/virtual_clock.h"
#ifndef _WIN32
#include "support/cpu_time.h"
#endif

namespace vq {
namespace {

TEST(ReceiverWords, NameTheProtocolTheAddressAndTheSizeReceived) {
    const auto ready = receiver_ready("loady\r\n## Ready for binary (YModem) download to 0x02000000 at 115200 bps...");
    ASSERT_TRUE(ready);
    EXPECT_EQ(ready->protocol, "ymodem");
    EXPECT_EQ(ready->address, "0x02000000");
    EXPECT_EQ(receiver_ready("## Ready for binary (kermit) download to 0x1000 at 115200 bps...")->protocol, "kermit");
    EXPECT_FALSE(receiver_ready("Unknown command 'lody' - try 'help'"));

    EXPECT_EQ(reported_size("## Total Size      = 0x0001869f = 99999 Bytes\r\n## Start Addr = 0x2000000"), 99999);
    EXPECT_EQ(reported_size("= 1 Bytes ## Total Size = 0x1 = 1 Bytes\r\n## Total Size = 0x2 = 2 Bytes"), 2) << "the last";
    EXPECT_FALSE(reported_size("## Total Size = 0x1 Bytes"));
}

TEST(ReceiverWords, ChooseOrRefuseTheProtocolAndJudgeTheSize) {
    EXPECT_EQ(protocol_for_receiver("ymodem", std::nullopt), Protocol::Ymodem);
    EXPECT_EQ(protocol_for_receiver("xmodem", std::nullopt), Protocol::Xmodem1k);
    EXPECT_EQ(protocol_for_receiver("xmodem", Protocol::Xmodem), Protocol::Xmodem);
    EXPECT_FALSE(protocol_for_receiver("xmodem", Protocol::Ymodem));
    EXPECT_FALSE(protocol_for_receiver("ymodem", Protocol::Xmodem1k));
    EXPECT_FALSE(protocol_for_receiver("kermit", std::nullopt));

    const struct {
        Protocol protocol;
        std::int64_t reported;
        bool agrees;
    } rows[] = {{Protocol::Ymodem, 3000, true},    {Protocol::Ymodem, 3072, false},  {Protocol::Xmodem1k, 3072, true},
                {Protocol::Xmodem1k, 3000, true},  {Protocol::Xmodem1k, 4096, false}, {Protocol::Xmodem1k, 2999, false}};
    for (const auto& r : rows)
        EXPECT_EQ(size_agrees(r.protocol, 3000, r.reported, block_size_of(r.protocol)), r.agrees) << r.reported;
}

#ifndef _WIN32
// A board that prints 200 KB of its log before its prompt: only what came
// since the last look is searched, and only the latest text kept.
TEST(Console, AChattyConsoleIsSearchedOnlyWhereItWroteSince) {
    test::FakeLink link;
    link.set_port(1, test::PortKind::Opens);
    link.setCommPort(1);
    link.setPortOpen(true);
    test::VirtualClock clock;
    FormState form;
    const std::string line = std::string(99, 'x') + "\n";
    for (int i = 0; i < 2000; ++i) clock.at(0.001 * i, [&] { link.deliver({line.begin(), line.end()}); });
    clock.at(2.5, [&] { link.deliver({'=', '>', ' '}); });
    Console console(link, clock, form, nullptr);
#ifdef __SANITIZE_ADDRESS__
    constexpr double kCpuAllowed = 5.0;  // the sanitizer makes std::regex some thirty times slower
#else
    constexpr double kCpuAllowed = 0.3;
#endif
    const double cpu = test::process_cpu_seconds();
    const Console::Read r = console.read_until({std::regex(kDefaultPrompt)}, 10);
    EXPECT_LT(test::process_cpu_seconds() - cpu, kCpuAllowed) << "searching all of it at every look takes seconds";
    EXPECT_EQ(r.kind, Console::Read::Found);
    EXPECT_TRUE(r.text.ends_with("x\n=> "));
    EXPECT_LT(r.text.size(), 70000u);
}
#endif

}  // namespace
}  // namespace vq
