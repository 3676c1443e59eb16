// The port joined to the terminal, on the fake link and a scripted terminal.

#include "cli/console_bridge.h"

#include <gtest/gtest.h>

#include <deque>

#include "protocol/failure.h"
#include "support/fake_link.h"

namespace vq::cli {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Each wait plays the next step: keys typed, or bytes from the board.
struct ScriptedTerminal final : Terminal {
    struct Step {
        std::optional<std::string> keys;  // nullopt: the input ends
        std::string board;
    };
    void wait(std::span<const WaitHandle>, double) override {
        ++waits;
        if (steps.empty()) return;
        next_keys = steps.front().keys;
        link->deliver(Bytes(steps.front().board.begin(), steps.front().board.end()));
        steps.pop_front();
    }
    std::optional<std::string> keys() override {
        ++asked;
        return std::exchange(next_keys, std::string());
    }
    void show(std::span<const std::uint8_t> bytes) override { shown.append(bytes.begin(), bytes.end()); }

    test::FakeLink* link = nullptr;
    std::deque<Step> steps;
    std::optional<std::string> next_keys = std::string();
    std::string shown;
    int waits = 0, asked = 0;
};

TEST(ConsoleBridge, KeysGoToTheBoardAndItsBytesShowUntilCtrlBracketTheStopOrAFailedPort) {
    const struct {
        const char* name;
        std::vector<ScriptedTerminal::Step> steps;
        bool port_fails;
        BridgeEnding::Kind end;
        std::string sent, shown;
    } rows[] = {
        {"Ctrl-] leaves; what follows it in the same read is not sent",
         {{"ver", "=> "}, {"sion\r", "version\r\nU-Boot 2023.01\r\n"}, {"b\x1d" "oot\r", ""}},
         false, BridgeEnding::Left, "version\rb", "=> version\r\nU-Boot 2023.01\r\n"},
        {"input that ends leaves the board showing until the stop",
         {{std::nullopt, "Starting kernel ...\r\n"}, {std::string(), "[    0.000000] Linux"}},
         false, BridgeEnding::Stopped, "", "Starting kernel ...\r\n[    0.000000] Linux"},
        {"a port that goes away", {{"x", ""}}, true, BridgeEnding::PortFailed, "x", ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        test::FakeLink link;
        link.set_port(1, test::PortKind::Opens);
        link.setPortOpen(true);
        std::string sent;
        link.on_output = [&](std::span<const std::uint8_t> b) { sent.append(b.begin(), b.end()); };
        ScriptedTerminal terminal;
        terminal.link = &link;
        terminal.steps.assign(r.steps.begin(), r.steps.end());
        const auto stopped = [&] {
            if (r.port_fails && !sent.empty()) link.fail("Input", err::PortGone);
            return terminal.steps.empty() && terminal.waits > static_cast<int>(r.steps.size());
        };
        const BridgeEnding ending = bridge_console(link, [] { return kNoWaitHandle; }, terminal, kNoWaitHandle, stopped);
        EXPECT_EQ(ending.kind, r.end) << ending.words;
        EXPECT_EQ(sent, r.sent);
        EXPECT_EQ(terminal.shown, r.shown);
        if (r.end == BridgeEnding::Stopped) {
            EXPECT_EQ(terminal.asked, 2) << "keys are not asked for once the input has ended";
        }
    }
}

}  // namespace
}  // namespace vq::cli
