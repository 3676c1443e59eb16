#include "ui/win32/form1.h"

#include <commctrl.h>
#include <dbt.h>

#include <algorithm>
#include <functional>
#include <memory>

namespace vq {
namespace {

enum ControlId : int {
    kCommand1 = 101, kText1, kCommand2, kCommand3, kProgressBar1, kCombo1, kLabel1, kText4, kLabel4, kText2,
    kStatusLine, kProtocolChoice, kReplyPacing, kConsoleToggle, kCommandLabel, kCommandText, kConsoleInput,
    kConsoleText,
};
static_assert(kConsoleText - kCommand1 + 1 == 18, "a font for each control");
constexpr UINT_PTR kConsoleTimer = 1;

constexpr UINT kConsolePollMs = 50;
constexpr int kConsoleTextKept = 100000;  // characters; the oldest half goes beyond it
constexpr UINT kChoiceChanged = WM_APP + 1;  // a selection, once the box shows its text
constexpr int kComboListTwips = 3000;        // the drop-down's list below its box

struct Place {
    int left, top, width, height;  // twips
    double points;                 // Verdana; 0: the system's font
};

// Each control's place and font, by id.
Place place_of(int id) {
    switch (id) {
    case kCommand1: return {8400, 1080, 1935, 495, 12};
    case kText1: return {240, 1080, 7935, 495, 12};
    case kCommand2: return {6840, 3240, 1815, 735, 12};
    case kCommand3: return {8760, 3240, 1575, 735, 12};
    case kProgressBar1: return {6840, 1800, 3495, 495, 0};
    case kCombo1: return {8040, 2580, 1455, 465 + kComboListTwips, 14.25};
    case kLabel1: return {5760, 2640, 2415, 375, 14.25};
    case kText4: return {5760, 1800, 855, 495, 10.5};
    case kLabel4: return {3720, 240, 2655, 615, 18};
    case kText2: return {240, 1800, 5200, 1950, 14.25};
    case kStatusLine: return {240, kClientHeight, kStatusWidth, kStatusHeight - 60, 9};
    case kConsoleToggle:
        return {kClientWidth - 240 - kToggleWidth - 60 - kProtocolWidth - 60 - kConsoleToggleWidth, kClientHeight,
                kConsoleToggleWidth, kStatusHeight - 60, 9};
    case kCommandLabel: return {240, kClientHeight + kStatusHeight + 60, 2040, kConsoleRowHeight - 60, 9};
    case kCommandText: return {2340, kClientHeight + kStatusHeight, 2100, kConsoleRowHeight, 9};
    case kConsoleInput: return {4560, kClientHeight + kStatusHeight, kClientWidth - 4800, kConsoleRowHeight, 9};
    case kConsoleText:
        return {240, kClientHeight + kStatusHeight + kConsoleRowHeight + 60, kClientWidth - 480,
                kConsoleHeight - kConsoleRowHeight - 180, -9};
    case kProtocolChoice:
        return {kClientWidth - 240 - kToggleWidth - 60 - kProtocolWidth, kClientHeight, kProtocolWidth,
                kStatusHeight - 60 + kComboListTwips / 2, 9};
    default: return {kClientWidth - 240 - kToggleWidth, kClientHeight, kToggleWidth, kStatusHeight - 60, 9};
    }
}

int pixels(int twips, UINT dpi) { return MulDiv(twips, static_cast<int>(dpi), 1440); }

HFONT verdana(double points, UINT dpi, bool bold = false) {
    return CreateFontW(-MulDiv(static_cast<int>(points * 100), static_cast<int>(dpi), 7200), 0, 0, 0,
                       bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Verdana");
}

// Whether `font` has a glyph for `ch`.
bool has_glyph(HDC dc, HFONT font, wchar_t ch) {
    HGDIOBJ was = SelectObject(dc, font);
    WORD glyph = 0;
    const bool found = GetGlyphIndicesW(dc, &ch, 1, &glyph, GGI_MARK_NONEXISTING_GLYPHS) == 1 && glyph != 0xFFFF;
    SelectObject(dc, was);
    return found;
}

// Draws `text` in `font`, and each character the font has no glyph for
// (Verdana has no full-width colon) in the first of the system's fonts for
// East Asian text that has one, as Qt does for the same label.
void draw_with_fallback(HDC dc, RECT box, const std::wstring& text, HFONT font, double points, UINT dpi) {
    static const wchar_t* const fallbacks[] = {L"Yu Gothic UI", L"Meiryo UI", L"MS UI Gothic", L"Microsoft YaHei UI",
                                               L"SimSun", L"Droid Sans Fallback"};
    int x = box.left;
    for (const wchar_t ch : text) {
        HFONT use = font, made = nullptr;
        if (!has_glyph(dc, font, ch)) {
            for (const wchar_t* face : fallbacks) {
                HFONT candidate = CreateFontW(-MulDiv(static_cast<int>(points * 100), static_cast<int>(dpi), 7200), 0, 0, 0,
                                              FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                              CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, face);
                if (has_glyph(dc, candidate, ch)) {
                    use = made = candidate;
                    break;
                }
                DeleteObject(candidate);
            }
        }
        HGDIOBJ was = SelectObject(dc, use);
        SIZE size{};
        GetTextExtentPoint32W(dc, &ch, 1, &size);
        RECT cell{x, box.top, x + size.cx, box.bottom};
        DrawTextW(dc, &ch, 1, &cell, DT_SINGLELINE | DT_BOTTOM | DT_NOPREFIX | DT_NOCLIP);
        x += size.cx;
        SelectObject(dc, was);
        if (made) DeleteObject(made);
    }
}

constexpr const wchar_t* kClassName = L"org.vellquin.VellquinTool.Form1";


constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kWindowExStyle = WS_EX_CONTROLPARENT;

}  // namespace

SIZE client_size(UINT dpi, bool console) {
    return {pixels(kClientWidth, dpi), pixels(kClientHeight + kStatusHeight + (console ? kConsoleHeight : 0), dpi)};
}

Win32Form1::Win32Form1(WindowServices services) : services_(std::move(services)) {
    INITCOMMONCONTROLSEX common{sizeof common, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    InitCommonControlsEx(&common);
    register_window_class(kClassName);
    window_ = CreateWindowExW(kWindowExStyle, kClassName, L"Form1", kWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT, 100,
                              100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Win32Form1::procedure));
    create_controls();
    dpi_ = GetDpiForWindow(window_);
    lay_out(dpi_);
    own_messages_.set_owner(window_);
    displays_ = std::make_unique<Win32Displays>(ProgressBar1, Text4);
    port_list_ = std::make_unique<Win32ComboList>(Combo1);
    form_ = std::make_unique<Form>(static_cast<FormView&>(*this),
                                   form_services(services_, own_messages_, *displays_,
                                                 [this](const std::string& prompt, const std::string& current) {
                                                     return ask_text(window_, prompt, current);
                                                 }));
    // Where the records go, from the system menu: the layout stays as it is.
    HMENU menu = GetSystemMenu(window_, FALSE);
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, kRecordsCommand, L"Where records go\x2026");
}

Win32Form1::~Win32Form1() {
    if (window_) DestroyWindow(window_);
    for (HFONT font : fonts_)
        if (font) DeleteObject(font);
}

void Win32Form1::show() {
    ShowWindow(window_, SW_SHOW);
    UpdateWindow(window_);
}

void Win32Form1::create_controls() {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    auto make = [&](int id, const wchar_t* cls, const wchar_t* text, DWORD style, DWORD ex = 0) {
        return CreateWindowExW(ex, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, window_,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    };
    // Created in tab order: the focus moves in the order of creation.
    Command1 = make(kCommand1, L"BUTTON", L"Open file", WS_TABSTOP | BS_PUSHBUTTON);
    Text1 = make(kText1, L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE);
    Command2 = make(kCommand2, L"BUTTON", L"Send Data", WS_TABSTOP | BS_PUSHBUTTON);
    Command3 = make(kCommand3, L"BUTTON", L"Stop", WS_TABSTOP | BS_PUSHBUTTON);
    ProgressBar1 = make(kProgressBar1, PROGRESS_CLASSW, L"", 0);
    SendMessageW(ProgressBar1, PBM_SETRANGE32, 0, 100);
    Combo1 = make(kCombo1, L"COMBOBOX", L"",
                  WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS);
    Label1 = make(kLabel1, L"STATIC", L"  Serial Ports\xFF1A", SS_OWNERDRAW);
    Text4 = make(kText4, L"EDIT", L"", WS_TABSTOP | ES_READONLY | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE);
    Label4 = make(kLabel4, L"STATIC", L"Vellquin Tool", SS_LEFT);
    Text2 = make(kText2, L"EDIT", L"", WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL,
                 WS_EX_CLIENTEDGE);
    StatusLine = make(kStatusLine, L"STATIC", L"", SS_LEFTNOWORDWRAP | SS_ENDELLIPSIS | SS_CENTERIMAGE | SS_NOTIFY,
                      WS_EX_STATICEDGE);
    ProtocolChoice = make(kProtocolChoice, L"COMBOBOX", L"", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST);
    ReplyPacing = make(kReplyPacing, L"BUTTON", L"", WS_TABSTOP | BS_AUTOCHECKBOX | BS_PUSHLIKE);
    ConsoleToggle = make(kConsoleToggle, L"BUTTON", L"Console", WS_TABSTOP | BS_AUTOCHECKBOX | BS_PUSHLIKE);
    CommandLabel = make(kCommandLabel, L"STATIC", L"Command at the prompt:", SS_LEFT);
    CommandText = make(kCommandText, L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE);
    SendMessageW(CommandText, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(L"loady"));
    ConsoleInput = make(kConsoleInput, L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE);
    on_enter(ConsoleInput, [this] { console_typed(); });
    ConsoleText = make(kConsoleText, L"EDIT", L"", WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL,
                       WS_EX_CLIENTEDGE);
    SendMessageW(ConsoleText, EM_SETLIMITTEXT, 2 * kConsoleTextKept, 0);
    for (HWND pane : {CommandLabel, CommandText, ConsoleInput, ConsoleText}) ShowWindow(pane, SW_HIDE);

    tips_ = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                            CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr, instance, nullptr);
    SendMessageW(tips_, TTM_SETMAXTIPWIDTH, 0, 600);
    for (HWND control : {Text1, Combo1, StatusLine, ProtocolChoice, ReplyPacing, ConsoleToggle, CommandText,
                          ConsoleInput}) {
        TOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = window_;
        tool.uId = reinterpret_cast<UINT_PTR>(control);
        tool.lpszText = const_cast<wchar_t*>(L"");
        SendMessageW(tips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
    set_tip(ProtocolChoice, kProtocolTip);
    set_tip(ConsoleToggle, kConsoleTip);
    set_tip(CommandText, kCommandTip);
    set_tip(ConsoleInput, "A line for the board: Enter sends it");
}

void Win32Form1::lay_out(UINT dpi) {
    dpi_ = dpi;
    const SIZE client = client_size(dpi, console_shown_);
    RECT frame{0, 0, client.cx, client.cy};
    AdjustWindowRectExForDpi(&frame, kWindowStyle, FALSE, kWindowExStyle, dpi);
    SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    for (int id = kCommand1; id <= kConsoleText; ++id) {
        const Place p = place_of(id);
        MoveWindow(GetDlgItem(window_, id), pixels(p.left, dpi), pixels(p.top, dpi), pixels(p.width, dpi),
                   pixels(p.height, dpi), TRUE);
        set_font(id);
    }
    // The port list's entries at this DPI: WM_MEASUREITEM came once, when
    // the list was made, before the window knew its DPI.
    const auto item_height = static_cast<LPARAM>(MulDiv(24, static_cast<int>(dpi), 96));
    SendMessageW(Combo1, CB_SETITEMHEIGHT, 0, item_height);
    SendMessageW(Combo1, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), item_height);
}

// Text2 shows the help in Verdana 9, the toggle is bold when on, and the
// console's text (given as negative points) is in a fixed-width font.
void Win32Form1::set_font(int id) {
    const double points = id == kText2 && help_font_ ? 9 : place_of(id).points;
    if (points == 0) return;
    HFONT& font = fonts_[static_cast<std::size_t>(id - kCommand1)];
    HFONT old = font;
    font = points > 0 ? verdana(points, dpi_, id == kReplyPacing && pacing_bold_)
                      : CreateFontW(-MulDiv(static_cast<int>(-points * 100), static_cast<int>(dpi_), 7200), 0, 0, 0,
                                    FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                    CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, FIXED_PITCH | FF_MODERN, L"Consolas");
    SendMessageW(GetDlgItem(window_, id), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    if (old) DeleteObject(old);
}

void Win32Form1::set_tip(HWND control, const std::string& text) {
    const std::wstring tip = wide(text);
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = window_;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = const_cast<wchar_t*>(tip.c_str());
    SendMessageW(tips_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

void Win32Form1::set_path_text(const std::string& text) { SetWindowTextW(Text1, wide(text).c_str()); }

void Win32Form1::show_help_text(const std::string& text) {
    help_font_ = true;
    set_font(kText2);
    SetWindowTextW(Text2, wide(text).c_str());  // the box shows each CRLF as one line break
}

void Win32Form1::set_port_text(const std::string& text) { SetWindowTextW(Combo1, wide(text).c_str()); }

// The drop-down is as wide as its longest label.
void Win32Form1::set_port_labels(const std::vector<std::string>& labels) {
    port_labels_ = labels;
    HDC dc = GetDC(Combo1);
    HGDIOBJ was = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(Combo1, WM_GETFONT, 0, 0)));
    LONG widest = 0;
    for (const std::string& label : labels) {
        const std::wstring text = wide(label);
        SIZE size{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        widest = std::max(widest, size.cx);
    }
    SelectObject(dc, was);
    ReleaseDC(Combo1, dc);
    SendMessageW(Combo1, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(widest + MulDiv(24, static_cast<int>(dpi_), 96)), 0);
    InvalidateRect(Combo1, nullptr, TRUE);
}

void Win32Form1::set_status_text(const std::string& text) {
    SetWindowTextW(StatusLine, wide(text).c_str());
    set_tip(StatusLine, text);
}

bool Win32Form1::pacing_on() const { return SendMessageW(ReplyPacing, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void Win32Form1::set_pacing_caption(const std::string& text, bool bold) {
    SetWindowTextW(ReplyPacing, wide(text).c_str());
    if (bold != pacing_bold_) {
        pacing_bold_ = bold;
        set_font(kReplyPacing);
    }
}

void Win32Form1::set_protocol_entries(const std::vector<std::string>& names) {
    SendMessageW(ProtocolChoice, CB_RESETCONTENT, 0, 0);
    for (const std::string& name : names)
        SendMessageW(ProtocolChoice, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(name).c_str()));
    SendMessageW(ProtocolChoice, CB_SETCURSEL, 0, 0);
}

int Win32Form1::protocol_index() const {
    return static_cast<int>(SendMessageW(ProtocolChoice, CB_GETCURSEL, 0, 0));
}

void Win32Form1::console_toggled() {
    console_shown_ = SendMessageW(ConsoleToggle, BM_GETCHECK, 0, 0) == BST_CHECKED;
    for (HWND pane : {CommandLabel, CommandText, ConsoleInput, ConsoleText})
        ShowWindow(pane, console_shown_ ? SW_SHOW : SW_HIDE);
    lay_out(dpi_);
    if (console_shown_) SetTimer(window_, kConsoleTimer, kConsolePollMs, nullptr);
    else KillTimer(window_, kConsoleTimer);
    form_->console_toggled(console_shown_);
}

void Win32Form1::console_typed() {
    form_->console_line(window_text(ConsoleInput));
    SetWindowTextW(ConsoleInput, L"");
}

// The edit box breaks lines at CRLF; its oldest text goes once it grows long.
void Win32Form1::append_console_text(const std::string& text) {
    std::string crlf;
    for (const char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const int length = GetWindowTextLengthW(ConsoleText);
    if (length > kConsoleTextKept) {
        SendMessageW(ConsoleText, EM_SETSEL, 0, length / 2);
        SendMessageW(ConsoleText, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
    }
    const int end = GetWindowTextLengthW(ConsoleText);
    SendMessageW(ConsoleText, EM_SETSEL, end, end);
    SendMessageW(ConsoleText, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(wide(crlf).c_str()));
}

void Win32Form1::close_window() {
    if (window_) DestroyWindow(window_);
}

LRESULT CALLBACK Win32Form1::procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    auto* self = reinterpret_cast<Win32Form1*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    return self ? self->handle(message, w, l) : DefWindowProcW(window, message, w, l);
}

LRESULT Win32Form1::handle(UINT message, WPARAM w, LPARAM l) {
    const HWND window = window_;
    switch (message) {
    case WM_COMMAND: {
        if (!form_) break;
        const int id = LOWORD(w), code = HIWORD(w);
        if (code == BN_CLICKED && id == kCommand1) form_->Command1_Click();
        else if (code == BN_CLICKED && id == kCommand2) form_->Command2_Click();
        else if (code == BN_CLICKED && id == kCommand3) form_->Command3_Click();
        else if (code == BN_CLICKED && id == kReplyPacing) form_->pacing_toggled();
        else if (code == EN_CHANGE && id == kText1) form_->choice_changed();
        else if (code == CBN_EDITCHANGE && id == kCombo1) form_->choice_changed();
        else if (code == CBN_SELCHANGE && id == kCombo1) PostMessageW(window, kChoiceChanged, 0, 0);
        else if (code == CBN_DROPDOWN && id == kCombo1) form_->refresh_ports();
        else if (code == CBN_SELCHANGE && id == kProtocolChoice) form_->protocol_chosen();
        else if (code == BN_CLICKED && id == kConsoleToggle) console_toggled();
        else if (code == EN_CHANGE && id == kCommandText) form_->choice_changed();
        return 0;
    }
    case WM_SYSCOMMAND:
        if ((w & 0xFFF0) == kRecordsCommand && form_) {
            form_->records_asked();
            return 0;
        }
        break;
    case WM_TIMER:
        if (w == kConsoleTimer && form_) form_->console_tick();
        return 0;
    case kChoiceChanged:
        if (form_) form_->choice_changed();
        return 0;
    case kRunOnWindowThread:
        run_handed_over(l);
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(w) != WA_INACTIVE && form_) form_->refresh_ports();
        break;
    case WM_DEVICECHANGE:
        if ((w == DBT_DEVICEARRIVAL || w == DBT_DEVICEREMOVECOMPLETE) && l &&
            reinterpret_cast<const DEV_BROADCAST_HDR*>(l)->dbch_devicetype == DBT_DEVTYP_PORT && form_)
            form_->refresh_ports();
        return TRUE;
    case WM_MEASUREITEM: {
        auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(l);
        item->itemHeight = static_cast<UINT>(MulDiv(24, static_cast<int>(dpi_), 96));
        return TRUE;
    }
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(l);
        if (item->CtlID == kLabel1) {
            FillRect(item->hDC, &item->rcItem, GetSysColorBrush(COLOR_BTNFACE));
            SetBkMode(item->hDC, TRANSPARENT);
            SetTextColor(item->hDC, GetSysColor(COLOR_BTNTEXT));
            const auto font = reinterpret_cast<HFONT>(SendMessageW(Label1, WM_GETFONT, 0, 0));
            draw_with_fallback(item->hDC, item->rcItem, wide(window_text(Label1)), font, place_of(kLabel1).points, dpi_);
            return TRUE;
        }
        if (item->CtlID != kCombo1 || item->itemID == static_cast<UINT>(-1)) break;
        const bool selected = item->itemState & ODS_SELECTED;
        FillRect(item->hDC, &item->rcItem, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
        SetTextColor(item->hDC, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
        SetBkMode(item->hDC, TRANSPARENT);
        const std::string label = item->itemID < port_labels_.size() ? port_labels_[item->itemID]
                                                                     : port_list_->List(static_cast<int>(item->itemID));
        std::wstring text = wide(label);
        RECT inner = item->rcItem;
        inner.left += MulDiv(4, static_cast<int>(dpi_), 96);
        DrawTextW(item->hDC, text.c_str(), static_cast<int>(text.size()), &inner, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
        return TRUE;
    }
    case WM_DPICHANGED: {
        lay_out(HIWORD(w));
        const RECT* suggested = reinterpret_cast<const RECT*>(l);
        SetWindowPos(window, nullptr, suggested->left, suggested->top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case WM_CLOSE:
        if (!form_ || form_->may_close()) DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        window_ = nullptr;
        if (on_closed) on_closed();
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, w, l);
}

}  // namespace vq
