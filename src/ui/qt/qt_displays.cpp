#include "ui/qt/qt_displays.h"

#include <QSettings>

#include <QPainter>
#include <QStyle>

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <cmath>

#include "protocol/failure.h"

namespace vq {

namespace {
constexpr int kPaintIntervalMs = 100;
}

QtDisplays::QtDisplays(QProgressBar& bar, QLineEdit& percent) : bar_(bar), percent_(percent) {
    release_.setSingleShot(true);
    QObject::connect(&release_, &QTimer::timeout, [this] {
        bar_.update();
        percent_.update();
        since_paint_.start();
    });
}

void QtDisplays::set_progress(float value) {
    change(bar_, [&] { bar_.setValue(static_cast<int>(std::lround(std::clamp(value, 0.0f, 100.0f)))); });
}

void QtDisplays::set_percent_text(const std::string& text) {
    change(percent_, [&] { percent_.setText(QString::fromStdString(text)); });
}

// A change paints at once when the last paint is long enough ago. A change
// soon after one asks for no repaint: the widget takes its value and shows
// it when the interval is over (or whenever the window is exposed).
void QtDisplays::change(QWidget& widget, const std::function<void()>& set) {
    if (!release_.isActive() && (!since_paint_.isValid() || since_paint_.elapsed() >= kPaintIntervalMs)) {
        since_paint_.start();
        set();
        return;
    }
    widget.setAttribute(Qt::WA_UpdatesDisabled, true);
    set();
    widget.setAttribute(Qt::WA_UpdatesDisabled, false);
    if (!release_.isActive()) release_.start(static_cast<int>(std::max<qint64>(0, kPaintIntervalMs - since_paint_.elapsed())));
}

void QtMessageBox::show(const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kApplicationTitle), QString::fromStdString(text),
                    QMessageBox::Ok, parent_);
    box.exec();
}

std::string QtSettings::get(const std::string& key) const {
    return QSettings(QStringLiteral("Vellquin"), QStringLiteral("Vellquin Tool")).value(QString::fromStdString(key)).toString().toStdString();
}

void QtSettings::set(const std::string& key, const std::string& value) {
    QSettings settings(QStringLiteral("Vellquin"), QStringLiteral("Vellquin Tool"));
    settings.setValue(QString::fromStdString(key), QString::fromStdString(value));
    settings.sync();
}

void QtFileDialog::ShowOpen(std::function<void()> closed) {
    if (open_ && open_->isVisible()) {
        open_->raise();
        open_->activateWindow();
        return;
    }
    // The system's "open" form as it comes: no filter, no title and no
    // flags of its own. A typed name of a file that does not exist is taken
    // too; the upload then says "File Not Exisits!".
    auto* dialog = new QFileDialog(window_);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    if (!file_name_.empty()) dialog->selectFile(QString::fromStdString(file_name_));
    QObject::connect(dialog, &QFileDialog::finished, [this, dialog, closed = std::move(closed)](int result) {
        if (result == QDialog::Accepted && !dialog->selectedFiles().isEmpty())
            file_name_ = dialog->selectedFiles().front().toStdString();
        closed();
    });
    open_ = dialog;
    dialog->open();
}

QString ElidingLabel::shown_text() const {
    const int room = contentsRect().width() - 2 * margin() - fontMetrics().horizontalAdvance(QLatin1Char('x'));
    return fontMetrics().elidedText(text(), Qt::ElideRight, room);
}

void ElidingLabel::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);  // the frame only
    QPainter painter(this);
    const QRect inner = contentsRect().adjusted(margin() + fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2,
                                                margin(), -margin(), -margin());
    style()->drawItemText(&painter, inner, static_cast<int>(alignment()), palette(), isEnabled(), shown_text(),
                          foregroundRole());
}

void ComboPortList::Clear() {
    combo_.clear();
    combo_.clearEditText();
}

void ComboPortList::AddItem(const std::string& text, int position) {
    if (position < 0 || position > combo_.count())
        throw Failure(err::InvalidPropertyValue, "list position out of range");
    combo_.insertItem(position, QString::fromStdString(text));
}

void ComboPortList::RemoveItem(int position) {
    if (position < 0 || position >= combo_.count())
        throw Failure(err::InvalidPropertyValue, "list position out of range");
    combo_.removeItem(position);
}

std::string ComboPortList::List(int position) const {
    if (position < 0 || position >= combo_.count()) return {};
    return combo_.itemText(position).toStdString();
}

void ComboPortList::setListIndex(int position) {
    if (position < 0 || position >= combo_.count())
        throw Failure(err::InvalidPropertyValue, "list position out of range");
    combo_.setCurrentIndex(position);
}

}  // namespace vq
