#pragma once
// What the window's behaviour needs of its controls, whatever draws them.
// A view creates the controls, implements this over them, and forwards
// their events to the Form; it decides nothing itself.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vq {

class PortList;

class FormView {
public:
    virtual ~FormView() = default;

    // Text1, the path box.
    virtual std::string path_text() const = 0;
    virtual void set_path_text(const std::string& text) = 0;
    virtual void set_path_tip(const std::string& text) = 0;
    // Text2, which shows `text` in Verdana 9, each CRLF as one line break.
    virtual void show_help_text(const std::string& text) = 0;
    // Combo1: its text, its entries, what the drop-down shows for each entry
    // (one label an entry, in order) and its tooltip.
    virtual std::string port_text() const = 0;
    virtual void set_port_text(const std::string& text) = 0;
    virtual PortList& port_entries() = 0;
    virtual void set_port_labels(const std::vector<std::string>& labels) = 0;
    virtual void set_port_tip(const std::string& text) = 0;
    // The line below the controls, with the same text as its tooltip.
    virtual std::string status_text() const = 0;
    virtual void set_status_text(const std::string& text) = 0;
    // The toggle beside the protocol choice: reply pacing for the device
    // protocol, the receiver's start wait for the others. Whether it is on,
    // its caption and its tooltip; set_pacing_on sends no click.
    virtual bool pacing_on() const = 0;
    virtual void set_pacing_on(bool on) = 0;
    virtual void set_pacing_caption(const std::string& text, bool bold) = 0;
    virtual void set_pacing_tip(const std::string& text) = 0;
    // The protocol choice beside the toggle: its entries, in order, with the
    // first one chosen; and the index of the one chosen.
    virtual void set_protocol_entries(const std::vector<std::string>& names) = 0;
    virtual int protocol_index() const = 0;
    // The console pane: the command typed at the board's prompt before an
    // upload of the standard protocols, and the pane's text, added to at
    // its end.
    virtual std::string command_text() const = 0;
    virtual void append_console_text(const std::string& text) = 0;
    // Closes the window for good.
    virtual void close_window() = 0;
};

// What the window remembers from one run to the next.
class Settings {
public:
    virtual ~Settings() = default;
    // Empty when nothing is remembered under `key`.
    virtual std::string get(const std::string& key) const = 0;
    virtual void set(const std::string& key, const std::string& value) = 0;
};

// Asks the user for a line of text, showing `prompt` and `current`; returns
// once answered: nullopt when the user cancels.
using AskText = std::function<std::optional<std::string>(const std::string& prompt, const std::string& current)>;

// The file dialog: its last chosen name survives a cancelled dialog.
class FileDialog {
public:
    virtual ~FileDialog() = default;
    // Shows the "open" form; `closed` runs once the user has chosen a file
    // or cancelled. It may return before that.
    virtual void ShowOpen(std::function<void()> closed) = 0;
    // The last file chosen, UTF-8; empty before the first choice.
    virtual std::string FileName() const = 0;
};

}  // namespace vq
