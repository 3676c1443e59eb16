// The console pane under the window, on the fake link.

#include <gtest/gtest.h>

#include "form/console_pane.h"
#include "protocol/failure.h"
#include "support/fake_link.h"

namespace vq {
namespace {

std::vector<std::uint8_t> bytes(const std::string& text) { return {text.begin(), text.end()}; }

struct Pane {
    Pane() { link.on_output = [this](std::span<const std::uint8_t> b) { sent.append(b.begin(), b.end()); }; }
    test::FakeLink link;
    std::string shown, sent;
    ConsolePane pane{link, [this](const std::string& text) { shown += text; }};
};

TEST(ConsolePane, ShowsWhatTheBoardPrintsSendsWhatIsTypedAndReleasesThePortWhenHidden) {
    Pane p;
    p.link.set_port(1, test::PortKind::Opens);
    p.pane.poll("COM1");
    EXPECT_FALSE(p.link.open()) << "a hidden pane holds no port";
    p.pane.set_shown(true);
    p.pane.poll("COM1");
    p.link.deliver(bytes("U-Boot 2023.01\r\n\x1b[0m=> "));
    p.pane.poll("COM1");
    p.pane.type("COM1", "version");
    p.link.deliver(bytes("version\r\nU-Boot 2023.01\r\n"));
    p.pane.poll("COM1");
    EXPECT_EQ(p.shown, "[COM1 open at 115200,N,8,1]\nU-Boot 2023.01\n[0m=> version\nU-Boot 2023.01\n");
    EXPECT_EQ(p.sent, "version\r");
    p.pane.set_shown(false);
    EXPECT_FALSE(p.link.open());
}

TEST(ConsolePane, SaysOnceWhyThePortCannotBeUsedUntilSomethingElseHappens) {
    const struct {
        const char* name;
        std::string choice;
        test::PortKind kind;
        std::string note;
    } rows[] = {
        {"held", "COM1", test::PortKind::Held, "[COM1 could not be opened: "},
        {"not a port", "COM12", test::PortKind::Opens, "[Choose a port, COM1 to COM9, to see what its board prints]\n"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        Pane p;
        p.link.set_port(1, r.kind);
        p.pane.set_shown(true);
        for (int i = 0; i < 3; ++i) p.pane.poll(r.choice);
        EXPECT_EQ(p.shown.rfind(r.note, 0), 0u) << p.shown;
        EXPECT_EQ(p.shown.find('[', 1), std::string::npos) << "said once: " << p.shown;
    }
    // A board that goes away mid-line: said on a line of its own, once.
    Pane p;
    p.link.set_port(1, test::PortKind::Opens);
    p.pane.set_shown(true);
    p.pane.poll("COM1");
    p.link.deliver(bytes("Hit any key"));
    p.pane.poll("COM1");
    p.link.fail("Input", err::PortGone);
    p.pane.poll("COM1");
    p.pane.poll("COM1");
    EXPECT_EQ(p.shown.substr(p.shown.find("Hit")).substr(0, 16), "Hit any key\n[COM") << p.shown;
    EXPECT_EQ(p.shown.find("failed"), p.shown.rfind("failed")) << p.shown;
}

}  // namespace
}  // namespace vq
