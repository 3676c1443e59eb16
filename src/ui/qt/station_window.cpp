#include "ui/qt/station_window.h"

#include <QCloseEvent>
#include <QColor>
#include <QEvent>
#include <QHBoxLayout>
#include <QGridLayout>
#include <QMetaObject>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

namespace vq {
namespace {

// The caption says the same in words and a symbol.
QString colour_of(station::Tile::State state) { return QColor::fromRgb(station::tile_colour(state)).name(); }

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
    Note = new QLabel(this);
    Note->setWordWrap(true);
    QFont noted = Note->font();
    noted.setPointSizeF(noted.pointSizeF() * 1.5);
    noted.setBold(true);
    Note->setFont(noted);
    layout->addWidget(Note);
    Scan = new QLineEdit(this);
    Scan->setPlaceholderText(QStringLiteral("Scan the unit's serial"));
    Scan->setVisible(recipe.scanned_serials);
    layout->addWidget(Scan);
    connect(Scan, &QLineEdit::returnPressed, this, [this] {
        const std::string text = Scan->text().toStdString();
        Scan->clear();
        form_->scan(text);
    });
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
        const QString name = QString::fromStdString(recipe.jig_slots[static_cast<std::size_t>(i)].name);
        auto* start = new QPushButton(QStringLiteral("Start %1").arg(name), this);
        start->setVisible(recipe.start == station::Recipe::Start::OnButton);
        start->setEnabled(false);
        tile->installEventFilter(this);
        auto* buttons = new QHBoxLayout();
        buttons->addWidget(start);
        buttons->addWidget(stop);
        auto* bar = new QProgressBar(this);
        bar->setMinimumHeight(28);
        // Hidden but in its place, so that the tile keeps its size.
        QSizePolicy kept = bar->sizePolicy();
        kept.setRetainSizeWhenHidden(true);
        bar->setSizePolicy(kept);
        bar->setVisible(false);
        auto* cell = new QVBoxLayout();
        cell->addWidget(tile, 1);
        cell->addWidget(bar);
        Bars.push_back(bar);
        cell->addLayout(buttons);
        Starts.push_back(start);
        connect(start, &QPushButton::clicked, this, [this, i] {
            form_->start_slot(static_cast<std::size_t>(i));
            Scan->setFocus();
        });
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
    Scan->setFocus();
    auto* look = new QTimer(this);
    connect(look, &QTimer::timeout, this, [this] { form_->every_second(); });
    look->start(1000);
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

bool StationWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress)
        for (std::size_t i = 0; i < Tiles.size(); ++i)
            if (Tiles[i] == watched) {
                form_->choose(i);
                Scan->setFocus();
            }
    return QWidget::eventFilter(watched, event);
}

void StationWindow::show_note(const std::string& text) { Note->setText(QString::fromStdString(text)); }

void StationWindow::show_tile(std::size_t index, const station::Tile& tile) {
    if (index >= Tiles.size()) return;
    QString text = QStringLiteral("<div style='font-size:18pt'>%1</div><div style='font-size:28pt;font-weight:bold'>%2</div>")
                       .arg(QString::fromStdString(tile.slot).toHtmlEscaped(),
                            QString::fromStdString(station::tile_caption(tile.state)).toHtmlEscaped());
    if (!tile.unit.empty()) text += QStringLiteral("<div style='font-size:16pt'>%1</div>").arg(QString::fromStdString(tile.unit).toHtmlEscaped());
    for (const std::string& line : station::tile_lines(tile))
        text += QStringLiteral("<div style='font-size:12pt'>%1</div>").arg(QString::fromStdString(line).toHtmlEscaped());
    Tiles[index]->setText(text);
    Tiles[index]->setStyleSheet(QStringLiteral("QLabel { color: white; background: %1; border-radius: 8px; border: %2; }")
                                    .arg(colour_of(tile.state),
                                         tile.chosen ? QStringLiteral("6px solid #f9a825") : QStringLiteral("none")));
    Starts[index]->setEnabled(tile.asks);
    Bars[index]->setValue(tile.percent);
    Bars[index]->setVisible(tile.state == station::Tile::State::Flashing);
}

}  // namespace vq
