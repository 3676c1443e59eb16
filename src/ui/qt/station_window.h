#pragma once
// The station window in Qt Widgets: a header, one tile per slot in a grid
// that fills the screen, and Stop per tile and for all. It lays out the
// tiles and forwards the buttons; the station form decides everything.

#include <QLabel>
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
    QPushButton* StopAll;
    std::vector<QLabel*> Tiles;
    std::vector<QPushButton*> Stops;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void show_header(const std::string& title, const std::string& detail) override;
    void show_tile(std::size_t index, const station::Tile& tile) override;

    std::unique_ptr<station::StationForm> form_;
};

}  // namespace vq
