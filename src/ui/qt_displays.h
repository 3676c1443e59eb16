#pragma once
// Qt shapes of the seams the upload and discovery talk to.

#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QString>
#include <string>

#include "link/port_list.h"
#include "protocol/host.h"

namespace vq {

// The progress bar and the percentage box.
class QtDisplays final : public Displays {
public:
    QtDisplays(QProgressBar& bar, QLineEdit& percent) : bar_(bar), percent_(percent) {}
    void set_progress(float value) override;
    void set_percent_text(const std::string& text) override;

private:
    QProgressBar& bar_;
    QLineEdit& percent_;
};

// A modal box with one OK button and the application's title.
class QtMessageBox final : public MessageBox {
public:
    explicit QtMessageBox(QWidget* parent) : parent_(parent) {}
    void show(const std::string& text) override;

private:
    QWidget* parent_;
};

// The file dialog: its last chosen name survives a cancelled dialog.
class FileDialog {
public:
    virtual ~FileDialog() = default;
    virtual void ShowOpen() = 0;
    virtual std::string FileName() const = 0;
};

class QtFileDialog final : public FileDialog {
public:
    explicit QtFileDialog(QWidget* parent) : parent_(parent) {}
    void ShowOpen() override;
    std::string FileName() const override { return file_name_; }

private:
    QWidget* parent_;
    std::string file_name_;
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
