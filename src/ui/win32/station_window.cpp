#include "ui/win32/station_window.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>

#include "ui/win32/win32_controls.h"

namespace vq {
namespace {

constexpr const wchar_t* kClassName = L"org.vellquin.VellquinTool.Station";
constexpr UINT_PTR kEverySecond = 1;
constexpr int kStopAll = 100, kFirstStop = 200, kFirstTile = 300, kFirstStart = 400;

HFONT font(int points, UINT dpi, bool bold) {
    return CreateFontW(-MulDiv(points, static_cast<int>(dpi), 72), 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE,
                       FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, L"Segoe UI");
}

// The caption says the same in words and a symbol.
COLORREF colour_of(station::Tile::State state) {
    const std::uint32_t rgb = station::tile_colour(state);
    return RGB(rgb >> 16, (rgb >> 8) & 0xff, rgb & 0xff);
}

}  // namespace

Win32StationWindow::Win32StationWindow(station::Recipe recipe, const records::RecordsTarget& records,
                                       const std::string& operator_name) {
    register_window_class(kClassName);
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    // Clipped, so that a control moved away leaves no background over the tiles.
    window_ = CreateWindowExW(WS_EX_CONTROLPARENT, kClassName, wide(recipe.name).c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                              CW_USEDEFAULT, CW_USEDEFAULT, 1024, 720, nullptr, nullptr, instance, nullptr);
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Win32StationWindow::procedure));
    dpi_ = GetDpiForWindow(window_);
    auto make = [&](const wchar_t* cls, const wchar_t* text, DWORD style, int id) {
        return CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style, 0, 0, 10, 10, window_,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    };
    scanning_ = recipe.scanned_serials;
    on_button_ = recipe.start == station::Recipe::Start::OnButton;
    Title = make(L"STATIC", L"", SS_LEFT, 0);
    Detail = make(L"STATIC", L"", SS_LEFT, 0);
    Note = make(L"STATIC", L"", SS_LEFT, 0);
    Scan = make(L"EDIT", L"", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 0);
    SendMessageW(Scan, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(L"Scan the unit's serial"));
    if (!scanning_) ShowWindow(Scan, SW_HIDE);
    on_enter(Scan, [this] { scanned(); });
    for (std::size_t i = 0; i < recipe.jig_slots.size(); ++i) {
        // A click on a tile chooses its slot for the next scan.
        Tiles.push_back(make(L"STATIC", L"", SS_OWNERDRAW | SS_NOTIFY, kFirstTile + static_cast<int>(i)));
        Stops.push_back(make(L"BUTTON", wide("Stop " + recipe.jig_slots[i].name).c_str(), WS_TABSTOP | BS_PUSHBUTTON,
                             kFirstStop + static_cast<int>(i)));
        Starts.push_back(make(L"BUTTON", wide("Start " + recipe.jig_slots[i].name).c_str(),
                              WS_TABSTOP | BS_PUSHBUTTON | WS_DISABLED, kFirstStart + static_cast<int>(i)));
        if (!on_button_) ShowWindow(Starts.back(), SW_HIDE);
    }
    StopAll = make(L"BUTTON", L"Stop all", WS_TABSTOP | BS_PUSHBUTTON, kStopAll);
    shown_.resize(Tiles.size());
    lay_out();
    // The slots' threads hand their news to this window's thread.
    form_ = std::make_unique<station::StationForm>(std::move(recipe), records, static_cast<station::StationView&>(*this),
                                                   [window = window_, this] {
                                                       run_on_window_thread(window, [this] { form_->deliver(); });
                                                   },
                                                   operator_name);
    form_->start();
    SetFocus(Scan);
    SetTimer(window_, kEverySecond, 1000, nullptr);
}

Win32StationWindow::~Win32StationWindow() {
    form_->stop_all();
    form_.reset();  // joins the slots' threads
    if (window_) DestroyWindow(window_);
    for (HFONT f : {big_, large_, small_, note_}) DeleteObject(f);
}

// The header across the top, Stop all at the bottom, the tiles in a grid
// between, each with its Stop below it; the fonts for the window's DPI.
void Win32StationWindow::lay_out() {
    if (const UINT window_dpi = dpi_; window_dpi != font_dpi_) {
        font_dpi_ = window_dpi;
        for (HFONT f : {big_, large_, small_, note_})
            if (f) DeleteObject(f);
        big_ = font(20, window_dpi, true);
        large_ = font(26, window_dpi, true);
        small_ = font(11, window_dpi, false);
        note_ = font(14, window_dpi, true);
        SendMessageW(Title, WM_SETFONT, reinterpret_cast<WPARAM>(big_), FALSE);
        for (HWND noted : {Note, Scan}) SendMessageW(noted, WM_SETFONT, reinterpret_cast<WPARAM>(note_), FALSE);
        for (const auto* buttons : {&Stops, &Starts})
            for (HWND small : *buttons) SendMessageW(small, WM_SETFONT, reinterpret_cast<WPARAM>(small_), FALSE);
        for (HWND small : {Detail, StopAll}) SendMessageW(small, WM_SETFONT, reinterpret_cast<WPARAM>(small_), FALSE);
    }
    RECT client{};
    GetClientRect(window_, &client);
    const int dpi = static_cast<int>(dpi_);
    const auto px = [dpi](int at96) { return MulDiv(at96, dpi, 96); };
    const int margin = px(12), header = px(40), detail = px(24), button = px(32), note = px(30);
    const int scan = scanning_ ? px(34) : 0;
    MoveWindow(Title, margin, margin, client.right - 2 * margin, header, TRUE);
    MoveWindow(Detail, margin, margin + header, client.right - 2 * margin, detail, TRUE);
    MoveWindow(Note, margin, margin + header + detail, client.right - 2 * margin, note, TRUE);
    MoveWindow(Scan, margin, margin + header + detail + note, client.right - 2 * margin, scan, TRUE);
    MoveWindow(StopAll, client.right - margin - px(160), client.bottom - margin - button, px(160), button, TRUE);
    const int count = static_cast<int>(Tiles.size());
    if (count == 0) return;
    const int columns = std::max(1, static_cast<int>(std::ceil(std::sqrt(count))));
    const int rows = (count + columns - 1) / columns;
    const int top = 2 * margin + header + detail + note + scan, bottom = client.bottom - 2 * margin - button;
    const int cell_w = (client.right - margin) / columns, cell_h = std::max(px(120), (bottom - top) / rows);
    for (int i = 0; i < count; ++i) {
        const int x = margin + (i % columns) * cell_w, y = top + (i / columns) * cell_h;
        MoveWindow(Tiles[static_cast<std::size_t>(i)], x, y, cell_w - margin, cell_h - margin - button, TRUE);
        const int w = cell_w - margin, stop_x = on_button_ ? x + w / 2 : x, stop_w = on_button_ ? w - w / 2 : w;
        MoveWindow(Starts[static_cast<std::size_t>(i)], x, y + cell_h - margin - button, w / 2 - px(4), button, TRUE);
        MoveWindow(Stops[static_cast<std::size_t>(i)], stop_x, y + cell_h - margin - button, stop_w, button, TRUE);
    }
}

void Win32StationWindow::draw_tile(const DRAWITEMSTRUCT& item) {
    const std::size_t index = item.CtlID - kFirstTile;
    if (index >= shown_.size()) return;
    const station::Tile& tile = shown_[index];
    HBRUSH fill = CreateSolidBrush(colour_of(tile.state));
    FillRect(item.hDC, &item.rcItem, fill);
    DeleteObject(fill);
    if (tile.chosen) {
        HBRUSH edge = CreateSolidBrush(RGB(0xf9, 0xa8, 0x25));
        RECT frame = item.rcItem;
        for (int i = 0; i < 6; ++i, InflateRect(&frame, -1, -1)) FrameRect(item.hDC, &frame, edge);
        DeleteObject(edge);
    }
    SetBkMode(item.hDC, TRANSPARENT);
    SetTextColor(item.hDC, RGB(255, 255, 255));
    RECT box = item.rcItem;
    InflateRect(&box, -8, -8);
    if (tile.state == station::Tile::State::Flashing) {
        // The bar along the tile's foot: white, filled as far as it went.
        RECT bar = box;
        bar.top = bar.bottom - std::max(8L, (box.bottom - box.top) / 12);
        box.bottom = bar.top - 4;
        HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
        FrameRect(item.hDC, &bar, white);
        bar.right = bar.left + (bar.right - bar.left) * std::clamp(tile.percent, 0, 100) / 100;
        FillRect(item.hDC, &bar, white);
        DeleteObject(white);
    }
    struct Line {
        std::string text;
        HFONT font;
    };
    std::vector<Line> lines{{tile.slot, big_}, {station::tile_caption(tile.state), large_}, {tile.unit, big_}};
    for (std::string& line : station::tile_lines(tile)) lines.push_back({std::move(line), small_});
    for (const Line& line : lines) {
        if (line.text.empty()) continue;
        HGDIOBJ was = SelectObject(item.hDC, line.font);
        const std::wstring text = wide(line.text);
        RECT measure = box;
        DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &measure, DT_CENTER | DT_WORDBREAK | DT_CALCRECT | DT_NOPREFIX);
        measure.left = box.left;
        measure.right = box.right;
        DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &measure, DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
        box.top = measure.bottom + 4;
        SelectObject(item.hDC, was);
    }
}

void Win32StationWindow::show_header(const std::string& title, const std::string& detail) {
    SetWindowTextW(Title, wide(title).c_str());
    SetWindowTextW(Detail, wide(detail).c_str());
}

void Win32StationWindow::show_tile(std::size_t index, const station::Tile& tile) {
    if (index >= shown_.size()) return;
    shown_[index] = tile;
    // The same as text, for the system's screen readers.
    std::string text = station::tile_caption(tile.state);
    for (const std::string& line : station::tile_lines(tile)) text += " \u00B7 " + line;
    SetWindowTextW(Tiles[index], wide(text).c_str());
    InvalidateRect(Tiles[index], nullptr, TRUE);
    EnableWindow(Starts[index], tile.asks);
}

void Win32StationWindow::show_note(const std::string& text) { SetWindowTextW(Note, wide(text).c_str()); }

void Win32StationWindow::scanned() {
    const std::string text = window_text(Scan);
    SetWindowTextW(Scan, L"");
    form_->scan(text);
}

LRESULT CALLBACK Win32StationWindow::procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    auto* self = reinterpret_cast<Win32StationWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    return self ? self->handle(window, message, w, l) : DefWindowProcW(window, message, w, l);
}

LRESULT Win32StationWindow::handle(HWND window, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(w) == BN_CLICKED && form_) {  // STN_CLICKED too, for the tiles
            const int id = LOWORD(w);
            const int count = static_cast<int>(Tiles.size());
            if (id == kStopAll) form_->stop_all();
            else if (id >= kFirstStop && id < kFirstStop + count) form_->stop(static_cast<std::size_t>(id - kFirstStop));
            else if (id >= kFirstStart && id < kFirstStart + count) form_->start_slot(static_cast<std::size_t>(id - kFirstStart));
            else if (id >= kFirstTile && id < kFirstTile + count) form_->choose(static_cast<std::size_t>(id - kFirstTile));
            if (id != kStopAll && id >= kFirstTile) SetFocus(Scan);
        }
        return 0;
    case WM_TIMER:
        if (w == kEverySecond && form_) form_->every_second();
        return 0;
    case kRunOnWindowThread:
        run_handed_over(l);
        return 0;
    case WM_DRAWITEM:
        draw_tile(*reinterpret_cast<const DRAWITEMSTRUCT*>(l));
        return TRUE;
    case WM_SIZE:
        lay_out();
        return 0;
    case WM_DPICHANGED: {
        dpi_ = HIWORD(w);
        const RECT* suggested = reinterpret_cast<const RECT*>(l);
        SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        lay_out();  // the fonts too, when the size stayed
        return 0;
    }
    case WM_CLOSE:
        if (form_) form_->stop_all();
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        window_ = nullptr;
        if (on_closed) on_closed();
        return 0;
    default:
        return DefWindowProcW(window, message, w, l);
    }
}

}  // namespace vq
