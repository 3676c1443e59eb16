#pragma once
// Qt shapes of the seams the upload, discovery and the form talk to.

#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QString>
#include <QTimer>
#include <functional>
#include <string>

#include <QLabel>

#include "form/form_view.h"
#include "link/port_list.h"
#include "protocol/host.h"

namespace vq {

// The progress bar and the percentage box. Both take every value at once,
// but repaint at most about ten times a second: a fast upload would
// otherwise spend more time painting than sending.
class QtDisplays final : public Displays {
public:
    QtDisplays(QProgressBar& bar, QLineEdit& percent);
    void set_progress(float value) override;
    void set_percent_text(const std::string& text) override;

private:
    void change(QWidget& widget, const std::function<void()>& set);

    QProgressBar& bar_;
    QLineEdit& percent_;
    QElapsedTimer since_paint_;
    QTimer release_;
};

// The title of the message boxes.
inline constexpr const char* kApplicationTitle = "Vellquin Tool";

// A modal box with one OK button and the application's title.
class QtMessageBox final : public MessageBox {
public:
    explicit QtMessageBox(QWidget* parent) : parent_(parent) {}
    void show(const std::string& text) override;

private:
    QWidget* parent_;
};

// The window's settings, where Qt keeps an application's (QSettings).
class QtSettings final : public Settings {
public:
    std::string get(const std::string& key) const override;
    void set(const std::string& key, const std::string& value) override;
};

// Returns at once and lets the dialog run in the window's own event loop, so
// a running upload keeps its timing while the user chooses. A second call
// while the dialog is open brings it to the front.
class QtFileDialog final : public FileDialog {
public:
    // The window the dialog opens over.
    void set_window(QWidget* window) { window_ = window; }
    void ShowOpen(std::function<void()> closed) override;
    std::string FileName() const override { return file_name_; }

private:
    QWidget* window_ = nullptr;
    QPointer<QFileDialog> open_;
    std::string file_name_;
};

// A label that draws a text too long for it shortened at its end, with an
// ellipsis, instead of cutting it off: what comes first is what matters.
class ElidingLabel final : public QLabel {
public:
    using QLabel::QLabel;
    // What is drawn.
    QString shown_text() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The editable drop-down box as a port list.
class ComboPortList final : public PortList {
public:
    explicit ComboPortList(QComboBox& combo) : combo_(combo) {}
    void Clear() override;
    void AddItem(const std::string& text, int position) override;
    void RemoveItem(int position) override;
    int ListCount() const override { return combo_.count(); }
    std::string List(int position) const override;
    void setListIndex(int position) override;

private:
    QComboBox& combo_;
};

}  // namespace vq
