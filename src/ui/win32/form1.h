#pragma once
// The main window in the Win32 API with the common controls: it creates
// the controls at their places in twips, scaled to the monitor's DPI, and
// forwards their events to the form, which holds the window's behaviour.

#include "ui/win32/win32_api.h"

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "form/form.h"
#include "ui/win32/win32_controls.h"

namespace vq {

class Win32Form1 final : private FormView {
public:
    // Creates the window, hidden; show() shows it.
    explicit Win32Form1(WindowServices services);
    ~Win32Form1() override;
    Win32Form1(const Win32Form1&) = delete;
    Win32Form1& operator=(const Win32Form1&) = delete;

    HWND window() const { return window_; }
    void show();
    Form& form() { return *form_; }
    // The system menu's command that asks where records go.
    static constexpr UINT kRecordsCommand = 0x0100;  // below 0xF000, a multiple of 16
    // Once the window has been destroyed (closed for good).
    bool closed() const { return window_ == nullptr; }
    // Runs once the window has been destroyed.
    std::function<void()> on_closed;

    // The controls, named as the window has always named them.
    HWND Label4{}, Text1{}, Command1{}, Text2{}, Text4{}, ProgressBar1{}, Label1{}, Combo1{}, Command2{}, Command3{};
    // Below the controls above: what is happening, the protocol choice and
    // the reply pacing toggle.
    HWND StatusLine{}, ProtocolChoice{}, ReplyPacing{};
    // Left of the protocol choice: shows the console pane below the status
    // row, with the command typed at the prompt before an upload, the line
    // typed to the board and the board's text.
    HWND ConsoleToggle{}, CommandLabel{}, CommandText{}, ConsoleInput{}, ConsoleText{};

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM w, LPARAM l);
    LRESULT handle(UINT message, WPARAM w, LPARAM l);
    void create_controls();
    // Places the controls and makes their fonts for `dpi`.
    void lay_out(UINT dpi);
    void set_font(int control_id);
    void set_tip(HWND control, const std::string& text);

    // FormView
    std::string path_text() const override { return window_text(Text1); }
    void set_path_text(const std::string& text) override;
    void set_path_tip(const std::string& text) override { set_tip(Text1, text); }
    void show_help_text(const std::string& text) override;
    std::string port_text() const override { return window_text(Combo1); }
    void set_port_text(const std::string& text) override;
    PortList& port_entries() override { return *port_list_; }
    void set_port_labels(const std::vector<std::string>& labels) override;
    void set_port_tip(const std::string& text) override { set_tip(Combo1, text); }
    std::string status_text() const override { return window_text(StatusLine); }
    void set_status_text(const std::string& text) override;
    bool pacing_on() const override;
    void set_pacing_on(bool on) override {
        SendMessageW(ReplyPacing, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);  // sends no BN_CLICKED
    }
    void set_pacing_caption(const std::string& text, bool bold) override;
    void set_pacing_tip(const std::string& text) override { set_tip(ReplyPacing, text); }
    void set_protocol_entries(const std::vector<std::string>& names) override;
    int protocol_index() const override;
    std::string command_text() const override { return window_text(CommandText); }
    void append_console_text(const std::string& text) override;
    void close_window() override;
    void console_toggled();
    // The line typed in ConsoleInput goes to the board.
    void console_typed();

    WindowServices services_;
    HWND window_ = nullptr;
    HWND tips_ = nullptr;
    UINT dpi_ = 96;
    bool help_font_ = false;  // Text2 shows the help, in Verdana 9
    bool pacing_bold_ = false;
    bool console_shown_ = false;
    std::array<HFONT, 18> fonts_{};  // by control, in the order of their ids
    std::vector<std::string> port_labels_;
    Win32MessageBox own_messages_;
    std::unique_ptr<Win32Displays> displays_;
    std::unique_ptr<Win32ComboList> port_list_;
    std::unique_ptr<Form> form_;
};

// The window's client area for `dpi`, in pixels: the controls' area, the
// status row below it, and the console pane when it shows.
SIZE client_size(UINT dpi, bool console = false);

}  // namespace vq
