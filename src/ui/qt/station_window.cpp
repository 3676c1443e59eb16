#include "ui/qt/station_window.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QMetaObject>
#include <QVBoxLayout>
#include <cmath>

namespace vq {
namespace {

// Grey waiting, blue flashing, green pass, red fail; the caption says the
// same in words and a symbol.
const char* colour_of(station::Tile::State state) {
    switch (state) {
    case station::Tile::State::Flashing: return "#1f5fa8";
    case station::Tile::State::Passed: return "#1e7d32";
    case station::Tile::State::Failed: return "#b3261e";
    default: return "#5f6368";
    }
}

}  // namespace

StationWindow::StationWindow(station::Recipe recipe, const records::RecordsTarget& records,
                             const std::string& operator_name, QWidget* parent)
    : QWidget(parent) {
    setWindowTitle(QString::fromStdString(recipe.name));
    auto* layout = new QVBoxLayout(this);
    Title = new QLabel(this);
    Detail = new QLabel(this);
    QFont big = Title->font();
    big.setPointSizeF(big.pointSizeF() * 2);
    big.setBold(true);
    Title->setFont(big);
    layout->addWidget(Title);
    layout->addWidget(Detail);
    auto* grid = new QGridLayout();
    layout->addLayout(grid, 1);
    const int count = static_cast<int>(recipe.jig_slots.size());
    const int columns = std::max(1, static_cast<int>(std::ceil(std::sqrt(count))));
    for (int i = 0; i < count; ++i) {
        auto* tile = new QLabel(this);
        tile->setAlignment(Qt::AlignCenter);
        tile->setWordWrap(true);
        tile->setMinimumSize(240, 160);
        tile->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        auto* stop = new QPushButton(QStringLiteral("Stop %1").arg(QString::fromStdString(recipe.jig_slots[static_cast<std::size_t>(i)].name)), this);
        auto* cell = new QVBoxLayout();
        cell->addWidget(tile, 1);
        cell->addWidget(stop);
        grid->addLayout(cell, i / columns, i % columns);
        Tiles.push_back(tile);
        Stops.push_back(stop);
        connect(stop, &QPushButton::clicked, this, [this, i] { form_->stop(static_cast<std::size_t>(i)); });
    }
    StopAll = new QPushButton(QStringLiteral("Stop all"), this);
    layout->addWidget(StopAll);
    connect(StopAll, &QPushButton::clicked, this, [this] { form_->stop_all(); });
    // The slots' threads wake this one, which takes their news.
    form_ = std::make_unique<station::StationForm>(std::move(recipe), records, static_cast<station::StationView&>(*this), [this] {
        QMetaObject::invokeMethod(this, [this] { form_->deliver(); }, Qt::QueuedConnection);
    }, operator_name);
    form_->start();
}

StationWindow::~StationWindow() {
    form_->stop_all();
    form_.reset();  // joins the slots' threads
}

void StationWindow::closeEvent(QCloseEvent* event) {
    form_->stop_all();
    event->accept();
}

void StationWindow::show_header(const std::string& title, const std::string& detail) {
    Title->setText(QString::fromStdString(title));
    Detail->setText(QString::fromStdString(detail));
}

void StationWindow::show_tile(std::size_t index, const station::Tile& tile) {
    if (index >= Tiles.size()) return;
    QString text = QStringLiteral("<div style='font-size:18pt'>%1</div><div style='font-size:28pt;font-weight:bold'>%2</div>")
                       .arg(QString::fromStdString(tile.slot).toHtmlEscaped(),
                            QString::fromStdString(station::tile_caption(tile.state)).toHtmlEscaped());
    if (!tile.unit.empty()) text += QStringLiteral("<div style='font-size:16pt'>%1</div>").arg(QString::fromStdString(tile.unit).toHtmlEscaped());
    text += QStringLiteral("<div style='font-size:12pt'>%1</div>").arg(QString::fromStdString(tile.words).toHtmlEscaped());
    if (tile.remove) text += QStringLiteral("<div style='font-size:12pt'>remove the board</div>");
    Tiles[index]->setText(text);
    Tiles[index]->setStyleSheet(QStringLiteral("QLabel { color: white; background: %1; border-radius: 8px; }").arg(QLatin1String(colour_of(tile.state))));
}

}  // namespace vq
