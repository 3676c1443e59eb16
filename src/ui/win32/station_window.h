#pragma once
// The station window in the Win32 API: a header, one tile per slot in a
// grid that fills the window, Stop per tile and for all, and, as the recipe
// asks, a box for the scanner and Start per tile. It draws the tiles and
// forwards what the operator does; the station form decides everything.

#include "ui/win32/win32_api.h"

#include <functional>
#include <memory>
#include <vector>

#include "station/station_form.h"

namespace vq {

class Win32StationWindow final : private station::StationView {
public:
    // Creates the window, hidden, and starts the slots.
    // `operator_name`: who runs the station, on every record.
    Win32StationWindow(station::Recipe recipe, const records::RecordsTarget& records,
                       const std::string& operator_name = {});
    ~Win32StationWindow() override;
    Win32StationWindow(const Win32StationWindow&) = delete;
    Win32StationWindow& operator=(const Win32StationWindow&) = delete;

    HWND window() const { return window_; }
    station::StationForm& form() { return *form_; }
    // Once the window has been destroyed.
    std::function<void()> on_closed;

    HWND Title{}, Detail{}, Note{}, Scan{}, StopAll{};
    std::vector<HWND> Tiles, Stops, Starts;
    // What each tile shows, as drawn.
    const std::vector<station::Tile>& tiles() const { return shown_; }

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM w, LPARAM l);
    LRESULT handle(HWND window, UINT message, WPARAM w, LPARAM l);
    void lay_out();
    void draw_tile(const DRAWITEMSTRUCT& item);

    void show_header(const std::string& title, const std::string& detail) override;
    void show_tile(std::size_t index, const station::Tile& tile) override;
    void show_note(const std::string& text) override;
    void scanned();

    HWND window_ = nullptr;
    HFONT big_ = nullptr, large_ = nullptr, small_ = nullptr, note_ = nullptr;
    bool scanning_ = false, on_button_ = false;
    UINT dpi_ = 96;      // the window's, as the system last said
    UINT font_dpi_ = 0;  // the fonts are made for it
    std::vector<station::Tile> shown_;
    std::unique_ptr<station::StationForm> form_;
};

}  // namespace vq
