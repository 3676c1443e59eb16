#include "ui/qt_displays.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <cmath>

#include "protocol/failure.h"

namespace vq {

void QtDisplays::set_progress(float value) {
    bar_.setValue(static_cast<int>(std::lround(std::clamp(value, 0.0f, 100.0f))));
}

void QtDisplays::set_percent_text(const std::string& text) {
    percent_.setText(QString::fromStdString(text));
}

void QtMessageBox::show(const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(), QString::fromStdString(text),
                    QMessageBox::Ok, parent_);
    box.exec();
}

void QtFileDialog::ShowOpen() {
    const QString start = file_name_.empty() ? QString() : QFileInfo(QString::fromStdString(file_name_)).path();
    const QString chosen = QFileDialog::getOpenFileName(parent_, QString(), start);
    if (!chosen.isEmpty()) file_name_ = chosen.toStdString();
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
