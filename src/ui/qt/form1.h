#pragma once
// The main window in Qt Widgets: it lays out the controls and forwards their
// events to the form, which holds the window's behaviour.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "form/form.h"
#include "link/port_book.h"
#include "link/port_map.h"
#include "ui/qt/qt_displays.h"

namespace vq {

class SerialLink;
class Clock;
class FileSystem;

using Form1Services = WindowServices;

// Window coordinates are given in twips; 15 twips make a pixel at 96 DPI.
QRect twips(int left, int top, int width, int height);

class Form1 final : public QWidget, private FormView {
public:
    explicit Form1(Form1Services services, QWidget* parent = nullptr);
    ~Form1() override;

    void Form_Load() { form_->Form_Load(); }
    void show_help() { form_->show_help(); }
    void Command1_Click() { form_->Command1_Click(); }
    void Command2_Click() { form_->Command2_Click(); }
    void Command3_Click() { form_->Command3_Click(); }
    void records_asked() { form_->records_asked(); }
    std::int16_t init_serial_port() { return form_->init_serial_port(); }
    void wait_seconds(float seconds) { form_->wait_seconds(seconds); }
    std::int16_t read_reply() { return form_->read_reply(); }
    void refresh_ports() { form_->refresh_ports(); }

    FormState& form() { return form_->form(); }
    bool uploading() const { return form_->uploading(); }
    const std::optional<UploadResult>& last_result() const { return form_->last_result(); }
    int status_redraws() const { return form_->status_redraws(); }

    // The controls, named as the window has always named them.
    QLabel* Label4;
    QLineEdit* Text1;
    QPushButton* Command1;
    QPlainTextEdit* Text2;
    QLineEdit* Text4;
    QProgressBar* ProgressBar1;
    QLabel* Label1;
    QComboBox* Combo1;
    QPushButton* Command2;
    QPushButton* Command3;
    // Below the controls above: what is happening, and how the last upload ended.
    QLabel* StatusLine;
    // At the right end of the status line: read each answer as soon as it
    // arrives instead of after the fixed wait. Off at every start.
    QToolButton* ReplyPacing;
    // Left of the toggle: the protocol spoken on the wire. The device's own at every start.
    QComboBox* ProtocolChoice;
    // Left of the protocol choice: shows the console pane below the status
    // row, which holds the command typed at the prompt before an upload,
    // the line typed to the board and the board's text.
    QToolButton* ConsoleToggle;
    QLineEdit* CommandText;
    QLineEdit* ConsoleInput;
    QPlainTextEdit* ConsoleText;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // FormView
    std::string path_text() const override { return Text1->text().toStdString(); }
    void set_path_text(const std::string& text) override { Text1->setText(QString::fromStdString(text)); }
    void set_path_tip(const std::string& text) override { Text1->setToolTip(QString::fromStdString(text)); }
    void show_help_text(const std::string& text) override;
    std::string port_text() const override { return Combo1->currentText().toStdString(); }
    void set_port_text(const std::string& text) override { Combo1->setEditText(QString::fromStdString(text)); }
    PortList& port_entries() override { return *port_list_; }
    void set_port_labels(const std::vector<std::string>& labels) override;
    void set_port_tip(const std::string& text) override { Combo1->setToolTip(QString::fromStdString(text)); }
    std::string status_text() const override { return StatusLine->text().toStdString(); }
    void set_status_text(const std::string& text) override;
    bool pacing_on() const override { return ReplyPacing->isChecked(); }
    void set_pacing_on(bool on) override;
    void set_pacing_caption(const std::string& text, bool bold) override;
    void set_pacing_tip(const std::string& text) override { ReplyPacing->setToolTip(QString::fromStdString(text)); }
    void set_protocol_entries(const std::vector<std::string>& names) override;
    int protocol_index() const override { return ProtocolChoice->currentIndex(); }
    std::string command_text() const override { return CommandText->text().toStdString(); }
    void append_console_text(const std::string& text) override;
    void close_window() override { close(); }

    QtMessageBox own_messages_;
    std::unique_ptr<QtDisplays> displays_;
    std::unique_ptr<ComboPortList> port_list_;
    std::unique_ptr<Form> form_;
    QTimer* console_poll_;
};

}  // namespace vq
