#pragma once
// The main window. It lays out the controls and wires them to the
// subsystems: discovery fills the port list, port opening reads it, the
// upload runs on the button press. Everything else lives in protocol/ and
// link/.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "link/discovery.h"
#include "link/port_book.h"
#include "link/port_map.h"
#include "protocol/reply.h"
#include "protocol/upload.h"
#include "ui/qt_displays.h"
#include "ui/status_line.h"

namespace vq {

class SerialLink;
class Clock;
class FileSystem;

struct Form1Services {
    SerialLink& MSComm1;
    Clock& clock;
    FileSystem& files;
    FileDialog& CommonDialog1;
    MessageBox* messages = nullptr;  // null: the window's own modal boxes
    // What each COM number stands for, kept for as long as the window is
    // open; null: the window does not say which device a number is.
    PortBook* ports = nullptr;
    // Where to look for devices that come and go; null: the list stays as
    // start-up found it.
    PortSource* port_source = nullptr;
    // Hands the link the numbers after a look found a change.
    std::function<void(const PortMap&)> use_ports{};
};

// The help text, lines separated by CRLF.
QString help_text();

// Window coordinates are given in twips; 15 twips make a pixel at 96 DPI.
QRect twips(int left, int top, int width, int height);

class Form1 final : public QWidget {
public:
    explicit Form1(Form1Services services, QWidget* parent = nullptr);
    ~Form1() override;

    // Start-up: start values, help text, the port list.
    void Form_Load();
    void show_help();
    // "Open file", "Send Data" and "Stop".
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();

    std::int16_t init_serial_port();
    void wait_seconds(float seconds);
    std::int16_t read_reply();

    FormState& form() { return form_; }
    bool uploading() const { return uploading_; }
    const std::optional<UploadResult>& last_result() const { return last_result_; }
    int status_redraws() const { return status_->redraws(); }

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

    // Looks for serial devices that came or went, while no upload runs: ports
    // that appeared are listed, ports that went away are shown as gone and
    // taken off the list unless they are the choice. Nothing is opened. Runs
    // when the list is opened and when the window becomes active again.
    void refresh_ports();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void show_choice();
    void label_ports();
    QString path_box_note() const;
    MessageBox& messages();

    Form1Services services_;
    FormState form_;
    QtMessageBox own_messages_;
    std::unique_ptr<MessageBox> upload_messages_;
    std::unique_ptr<QtDisplays> displays_;
    std::unique_ptr<ComboPortList> port_list_;
    bool uploading_ = false;
    bool close_when_done_ = false;
    std::optional<UploadResult> last_result_;
    std::unique_ptr<vq::StatusLine> status_;
    DiscoveryReport discovery_;
    std::string port_cause_;
};

}  // namespace vq
