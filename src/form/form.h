#pragma once
// The window's behaviour, for every view of it: start-up and the probe of
// COM1..COM9, the help, the three buttons, opening the port, the status
// line, the ports that come and go, and the closing rule. It reaches the
// controls through a FormView, and the upload's seams as the command line
// does.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "form/console_pane.h"
#include "form/form_view.h"
#include "form/status_line.h"
#include "link/discovery.h"
#include "link/port_opening.h"
#include "link/port_book.h"
#include "protocol/host.h"
#include "protocol/reply.h"
#include "protocol/upload.h"
#include "records/keeper.h"
#include "records/record_writer.h"

namespace vq {

class Clock;
class FileSystem;
class SerialLink;

// What a window is given.
struct WindowServices {
    SerialLink& MSComm1;
    Clock& clock;
    FileSystem& files;
    FileDialog& CommonDialog1;
    MessageBox* messages = nullptr;  // null: the window's own modal boxes
    // What each COM number stands for, kept for as long as the window is
    // open; null: the window does not say which device a number is.
    PortBook* ports = nullptr;
    // Where to look for devices that come and go; null: the list stays as
    // start-up found it.
    PortSource* port_source = nullptr;
    // Hands the link the numbers after a look found a change.
    std::function<void(const PortMap&)> use_ports{};
    // Where each upload's record goes; null: none are kept.
    records::RecordKeeper* records = nullptr;
    // Where the window's own choice of that place is remembered; null: it
    // is not.
    Settings* settings = nullptr;
    // Asks for that place; null: the window's own dialog.
    AskText ask_text{};

};

// What the form is given: the window's services, with the message boxes to
// show and the displays of the upload.
struct FormServices {
    WindowServices window;
    MessageBox& boxes;
    Displays& displays;
};

// A window's services for its form: the boxes given, else the window's own.
inline FormServices form_services(const WindowServices& window, MessageBox& own_boxes, Displays& displays,
                                  AskText own_ask = {}) {
    FormServices services{window, window.messages ? *window.messages : own_boxes, displays};
    if (!services.window.ask_text) services.window.ask_text = std::move(own_ask);
    return services;
}

// The key the window's choice of where records go is remembered under.
inline constexpr const char* kRecordsSetting = "records";
inline constexpr const char* kRecordsPrompt =
    "Where each upload's record goes: sqlite:PATH, postgresql://user@host/database, or none. "
    "Empty: VELLQUIN_RECORDS, else the records file in your data folder.";

// The help text, lines separated by CRLF.
std::string help_text();

// The window's size in twips (15 make a pixel at 96 DPI): its client area,
// and the status row added below it.
inline constexpr int kClientWidth = 10605;
inline constexpr int kClientHeight = 4275;
inline constexpr int kStatusHeight = 420;
inline constexpr int kToggleWidth = 2400;  // the reply pacing toggle, at the status row's right end: room for its bold caption
inline constexpr int kProtocolWidth = 1950;  // the protocol choice, left of the toggle: room for "device protocol"
inline constexpr int kConsoleToggleWidth = 1140;  // "Console", left of the protocol choice
// The console pane, below the status row when shown: a row with the command
// and the line to type, then the board's text.
inline constexpr int kConsoleHeight = 3600;
inline constexpr int kConsoleRowHeight = 360;
// The status line's width, left of the console toggle.
inline constexpr int kStatusWidth = kClientWidth - 480 - kToggleWidth - kProtocolWidth - kConsoleToggleWidth - 180;
inline constexpr const char* kConsoleTip =
    "Show the board's console below: what it prints while no upload runs, a line to type to it, and the "
    "command to type at its prompt before an XMODEM or YMODEM upload (loadx, loady).";
inline constexpr const char* kCommandTip =
    "Typed at the board's prompt before an upload of XMODEM, XMODEM-1K or YMODEM (U-Boot: loadx, loady): the "
    "receiver must then speak the protocol chosen, and the size it reports must be the file's. Empty: nothing "
    "is typed.";

inline constexpr const char* kProtocolTip =
    "What is spoken on the wire. device protocol: this device's own, with wake-ups. XMODEM, XMODEM-1K, "
    "YMODEM: for bootloaders that receive the standard protocols (U-Boot's loadx and loady, rx, rb); start the "
    "receiver, then press Send Data, or the other way round within a minute.";

// The receiver's start waits the toggle offers with the standard protocols,
// in seconds, each click taking the next; --start-wait's default first.
inline constexpr double kStartWaits[] = {kDefaultStartWait, 120, 300, 10, 30};
inline constexpr const char* kStartWaitTip =
    "How long the receiver may take to ask for the first block after Send Data: start its receive command "
    "(loadx, loady, rx, rb) within this time. Click for the next: 60, 120, 300, 10 or 30 s.";

// The toggle's tooltip.
inline constexpr const char* kReplyPacingTip =
    "Read each answer of the device as soon as it arrives instead of after a fixed 0.1 s: up to twice as fast "
    "on a real line. An upload goes back to the fixed waits if the device misses an answer or refuses a block "
    "twice in a row.";

class Form {
public:
    Form(FormView& view, FormServices services);

    // Start-up: start values, help text, the port list.
    void Form_Load();
    void show_help();
    // "Open file", "Send Data" and "Stop".
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();

    std::int16_t init_serial_port(Waiting waiting = Waiting::Discard);
    void wait_seconds(float seconds);
    std::int16_t read_reply();

    // Looks for serial devices that came or went, while no upload runs:
    // ports that appeared are listed, ports that went away are shown as gone
    // and taken off the list unless they are the choice. Nothing is opened.
    // Views call it when the list is about to open, when the window becomes
    // active again and when the system says a device came or went.
    void refresh_ports();
    // The port text, the path box or the pacing toggle changed.
    void choice_changed();
    void pacing_toggled();
    void protocol_chosen();
    // The user asks to choose where the records go (from the window's
    // menu): the choice is remembered, and the status line says where.
    void records_asked();
    // The console pane was shown or hidden; a few times a second while it
    // shows; a line typed in it for the board.
    void console_toggled(bool shown);
    void console_tick();
    void console_line(const std::string& line);
    // The command typed at the prompt before the next upload: the pane's,
    // while it shows and a standard protocol is chosen.
    std::string command() const;
    // The user asks to close the window: true when it may close now. During
    // an upload, the upload stops as Stop stops it, without its message box,
    // and the window closes once the port is released.
    bool may_close();

    FormState& form() { return form_; }
    bool uploading() const { return uploading_; }
    const std::optional<UploadResult>& last_result() const { return last_result_; }
    int status_redraws() const { return status_.redraws(); }

private:
    void show_choice();
    void label_ports();
    std::string path_box_note() const;
    Protocol protocol() const;
    // Shows the toggle as the chosen protocol uses it.
    void show_toggle();
    // The upload's record as far as it is known at its start, and how a
    // result ends on record.
    records::UploadRecord starting_record() const;
    records::Ending ending_of(const UploadResult& result) const;

    FormView& view_;
    FormServices services_;
    FormState form_;
    // An upload's messages, except once the window is closing: closing must
    // not wait for anyone to press OK.
    class UnlessClosing final : public MessageBox {
    public:
        explicit UnlessClosing(Form& form) : form_(form) {}
        void show(const std::string& text) override {
            if (!form_.close_when_done_) form_.services_.boxes.show(text);
        }

    private:
        Form& form_;
    } upload_messages_{*this};
    StatusLine status_;
    ConsolePane console_;
    bool uploading_ = false;
    bool close_when_done_ = false;
    bool quiet_ = false;  // the form itself is changing the controls
    bool reply_pacing_ = false;      // the toggle's state with the device protocol
    std::size_t start_wait_ = 0;     // into kStartWaits, with the standard protocols
    std::optional<UploadResult> last_result_;
    DiscoveryReport discovery_;
    std::string port_cause_;
};

}  // namespace vq
