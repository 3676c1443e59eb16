#pragma once
// The station window in Qt Widgets: a header, one tile per slot in a grid
// that fills the screen, Stop per tile and for all, and, as the recipe asks,
// a box for the scanner and Start per tile. It lays out the tiles and
// forwards what the operator does; the station form decides everything.

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>
#include <memory>
#include <vector>

#include "station/station_form.h"

namespace vq {

class StationWindow final : public QWidget, private station::StationView {
public:
    // `operator_name`: who runs the station, on every record.
    StationWindow(station::Recipe recipe, const records::RecordsTarget& records, const std::string& operator_name = {},
                  QWidget* parent = nullptr);
    ~StationWindow() override;

    station::StationForm& form() { return *form_; }
    QLabel* Title;
    QLabel* Detail;
    QLabel* Note;
    QLineEdit* Scan;  // where a barcode scanner types; it keeps the focus
    QPushButton* StopAll;
    std::vector<QLabel*> Tiles;
    std::vector<QProgressBar*> Bars;  // under each tile, while it flashes
    std::vector<QPushButton*> Stops;
    std::vector<QPushButton*> Starts;  // when the recipe starts boards on a button

protected:
    void closeEvent(QCloseEvent* event) override;
    // A click on a tile chooses its slot for the next scan.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void show_header(const std::string& title, const std::string& detail) override;
    void show_tile(std::size_t index, const station::Tile& tile) override;
    void show_note(const std::string& text) override;

    std::unique_ptr<station::StationForm> form_;
};

}  // namespace vq
