#pragma once
// The console pane under the window: while it shows and no upload runs, the
// chosen port stays open and what the board prints is shown, so that the
// user sees it boot; a line typed there goes to the board with a carriage
// return. During an upload the port is the upload's, and the text the
// upload reads at the board's prompt is shown instead. What the pane has to
// say itself (the port could not be opened, it went away) is one line in
// brackets, said once until something else happens.

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "protocol/upload.h"

namespace vq {

class SerialLink;

// The board's bytes as the pane shows them: line ends as '\n', tabs, and
// every other byte but control characters (UTF-8 passes whole).
std::string console_text(std::span<const std::uint8_t> bytes);

class ConsolePane final : public UploadObserver {
public:
    // `show` adds text at the pane's end.
    ConsolePane(SerialLink& link, std::function<void(const std::string&)> show)
        : link_(link), show_(std::move(show)) {}

    // Hidden, the pane releases the port it held.
    void set_shown(bool shown);
    bool shown() const { return shown_; }
    // While no upload runs, a few times a second: opens the chosen port if
    // it is not open yet and shows what arrived.
    void poll(const std::string& port_choice);
    // Sends `line` and a carriage return to the chosen port.
    void type(const std::string& port_choice, const std::string& line);

    void on_console(bool typed, const std::string& text, double time) override;

private:
    bool open(const std::string& port_choice);
    void say(const std::string& note);

    SerialLink& link_;
    std::function<void(const std::string&)> show_;
    bool shown_ = false;
    bool line_open_ = false;  // the last text shown did not end its line
    std::string last_note_;
};

}  // namespace vq
