#include "form/console_pane.h"

#include <exception>
#include <vector>

#include "link/port_opening.h"
#include "protocol/host.h"
#include "protocol/serial_link.h"

namespace vq {
namespace {

// The pane has no box of its own to show: what the opening would show is
// said in the pane instead.
class Unshown final : public MessageBox {
public:
    void show(const std::string& text) override { shown = text; }
    std::string shown;
};

}  // namespace

std::string console_text(std::span<const std::uint8_t> bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (const std::uint8_t b : bytes)
        if (b == '\n' || b == '\t' || (b >= 0x20 && b != 0x7F)) text.push_back(static_cast<char>(b));
    return text;
}

void ConsolePane::set_shown(bool shown) {
    shown_ = shown;
    if (!shown && link_.PortOpen()) {
        try {
            link_.setPortOpen(false);
        } catch (const std::exception&) {
            // closing a port that failed leaves nothing to release
        }
    }
    last_note_.clear();
}

void ConsolePane::say(const std::string& note) {
    if (note == last_note_) return;
    last_note_ = note;
    show_((line_open_ ? "\n[" : "[") + note + "]\n");
    line_open_ = false;
}

bool ConsolePane::open(const std::string& port_choice) {
    const int number = port_number_of(port_choice);
    if (link_.PortOpen() && link_.CommPort() == number) return true;
    Unshown box;
    std::string cause;
    if (init_serial_port(port_choice, link_, box, &cause, Waiting::Keep) != kPortReady) {
        say(box.shown.empty() ? port_choice + " could not be opened: " + cause
                              : "Choose a port, COM1 to COM9, to see what its board prints");
        return false;
    }
    link_.setInputLen(0);  // whatever waits, at once
    say(port_choice + " open at " + kLineSettings);
    return true;
}

void ConsolePane::poll(const std::string& port_choice) {
    if (!shown_ || !open(port_choice)) return;
    std::vector<std::uint8_t> got;
    try {
        got = link_.Input();
    } catch (const std::exception& e) {
        say(port_choice + " failed: " + e.what());
        return;
    }
    const std::string text = console_text(got);
    if (text.empty()) return;
    show_(text);
    line_open_ = text.back() != '\n';
    last_note_.clear();
}

void ConsolePane::type(const std::string& port_choice, const std::string& line) {
    if (!shown_ || !open(port_choice)) return;
    const std::string typed = line + "\r";
    try {
        link_.Output({reinterpret_cast<const std::uint8_t*>(typed.data()), typed.size()});
    } catch (const std::exception& e) {
        say(port_choice + " failed: " + e.what());
    }
}

void ConsolePane::on_console(bool typed, const std::string& text, double) {
    // The board echoes what is typed: its lines are the record.
    if (typed || !shown_) return;
    show_((line_open_ ? "\n" : "") + text + "\n");
    line_open_ = false;
    last_note_.clear();
}

}  // namespace vq
