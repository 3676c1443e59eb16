#include "ui/form1.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QFileInfo>
#include <QFont>
#include <QAbstractItemView>
#include <QKeyEvent>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <algorithm>
#include <functional>

#include "link/discovery.h"
#include "link/port_errors.h"
#include "link/port_opening.h"
#include "protocol/report.h"
#include "protocol/serial_link.h"
#include "protocol/wait.h"

namespace vq {
namespace {

constexpr int kClientWidth = 10605;
constexpr int kClientHeight = 4275;
constexpr int kStatusHeight = 420;  // the status line, added below the client area
constexpr int kToggleWidth = 1800;  // the reply pacing toggle at the status line's right end

QFont verdana(double points) {
    QFont font(QStringLiteral("Verdana"));
    font.setPointSizeF(points);
    return font;
}

// A button that Enter presses as well as Space, as on the desktop tools
// this window's users know.
class Button final : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !event->isAutoRepeat()) {
            click();
            return;
        }
        QPushButton::keyPressEvent(event);
    }
};

// The port list: it looks for devices that came or went just before it
// opens, and its drop-down shows each entry's device and description while
// the entry's text stays "COMn", the text that port opening reads.
constexpr int kPortLabelRole = Qt::UserRole + 1;

class PortCombo final : public QComboBox {
public:
    using QComboBox::QComboBox;
    std::function<void()> about_to_open;

    void showPopup() override {
        if (about_to_open) about_to_open();
        QComboBox::showPopup();
    }
};

class PortLabels final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const QVariant label = index.data(kPortLabelRole);
        if (label.isValid()) option->text = label.toString();
    }
};

// Passes an upload's messages on, except once the window is closing:
// closing stops the upload and must not wait for anyone to press OK.
class UnlessClosing final : public MessageBox {
public:
    UnlessClosing(MessageBox& target, const bool& closing) : target_(target), closing_(closing) {}
    void show(const std::string& text) override {
        if (!closing_) target_.show(text);
    }

private:
    MessageBox& target_;
    const bool& closing_;
};

template <typename W>
W* place(QWidget* parent, const QRect& where, double points, const QString& text = {}) {
    auto* w = new W(parent);
    w->setGeometry(where);
    if (points > 0) w->setFont(verdana(points));
    if constexpr (requires { w->setText(text); }) w->setText(text);
    return w;
}

}  // namespace

QRect twips(int left, int top, int width, int height) {
    auto px = [](int t) { return qRound(t / 15.0); };
    return {px(left), px(top), px(width), px(height)};
}

Form1::Form1(Form1Services services, QWidget* parent)
    : QWidget(parent),
      services_(services),
      own_messages_(this),
      upload_messages_(std::make_unique<UnlessClosing>(services.messages ? *services.messages : own_messages_,
                                                       close_when_done_)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Form1"));
    setFixedSize(twips(0, 0, kClientWidth, kClientHeight + kStatusHeight).size());

    // Created in tab order: the focus chain follows creation.
    Command1 = place<Button>(this, twips(8400, 1080, 1935, 495), 12, QStringLiteral("Open file"));
    Text1 = place<QLineEdit>(this, twips(240, 1080, 7935, 495), 12);
    Command2 = place<Button>(this, twips(6840, 3240, 1815, 735), 12, QStringLiteral("Send Data"));
    Command3 = place<Button>(this, twips(8760, 3240, 1575, 735), 12, QStringLiteral("Stop"));
    ProgressBar1 = place<QProgressBar>(this, twips(6840, 1800, 3495, 495), 0);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    auto* ports = place<PortCombo>(this, twips(8040, 2580, 1455, 465), 14.25);
    ports->about_to_open = [this] { refresh_ports(); };
    Combo1 = ports;
    Combo1->setEditable(true);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    Combo1->setItemDelegate(new PortLabels(Combo1));
    Label1 = place<QLabel>(this, twips(5760, 2640, 2415, 375), 14.25,
                           QStringLiteral("  Serial Ports") + QChar(0xFF1A));
    Text4 = place<QLineEdit>(this, twips(5760, 1800, 855, 495), 10.5);
    Text4->setReadOnly(true);
    Label4 = place<QLabel>(this, twips(3720, 240, 2655, 615), 18, QStringLiteral("Vellquin Tool"));
    Text2 = place<QPlainTextEdit>(this, twips(240, 1800, 5200, 1950), 14.25);
    Text2->setReadOnly(true);
    StatusLine = place<ElidingLabel>(
        this, twips(240, kClientHeight, kClientWidth - 480 - kToggleWidth - 60, kStatusHeight - 60), 9);
    StatusLine->setFrameShape(QFrame::StyledPanel);
    ReplyPacing = place<QToolButton>(
        this, twips(kClientWidth - 240 - kToggleWidth, kClientHeight, kToggleWidth, kStatusHeight - 60), 9,
        QStringLiteral("Reply pacing: off"));
    ReplyPacing->setCheckable(true);
    ReplyPacing->setStyleSheet(QStringLiteral("QToolButton:checked { font-weight: bold; }"));
    ReplyPacing->setToolTip(QStringLiteral(
        "Read each answer of the device as soon as it arrives instead of after a fixed 0.1 s: up to twice as fast "
        "on a real line. An upload goes back to the fixed waits if the device misses an answer or refuses a block "
        "twice in a row."));

    const char* names[] = {"Label4", "Text1",  "Command1", "Text2",    "Text4",   "ProgressBar1",
                           "Label1", "Combo1", "Command2", "Command3", "StatusLine", "ReplyPacing"};
    QWidget* widgets[] = {Label4,  Text1,  Command1, Text2,    Text4,      ProgressBar1,
                          Label1,  Combo1, Command2, Command3, StatusLine, ReplyPacing};
    for (std::size_t i = 0; i < std::size(widgets); ++i) widgets[i]->setObjectName(QString::fromLatin1(names[i]));

    displays_ = std::make_unique<QtDisplays>(*ProgressBar1, *Text4);
    port_list_ = std::make_unique<ComboPortList>(*Combo1);
    status_ = std::make_unique<vq::StatusLine>(*StatusLine);

    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Combo1, &QComboBox::currentTextChanged, this, &Form1::show_choice);
    connect(ReplyPacing, &QToolButton::toggled, this, [this](bool on) {
        ReplyPacing->setText(on ? QStringLiteral("\u2714 Reply pacing: on") : QStringLiteral("Reply pacing: off"));
        show_choice();
    });
    connect(Text1, &QLineEdit::textChanged, this, &Form1::show_choice);
}

Form1::~Form1() = default;

void Form1::Form_Load() {
    form_.stop_request = 0;
    form_.nak_count = 0;
    form_.reply_code = kNoAnswer;
    show_help();
    {
        const QSignalBlocker quiet(Combo1);  // the choice is shown once, after the probe
        port_list_->Clear();
        discovery_ = {};
        discover_ports(services_.MSComm1, *port_list_, &discovery_);
        label_ports();
    }
    show_choice();
}

void Form1::refresh_ports() {
    if (uploading_ || !services_.ports || !services_.port_source) return;
    if (!services_.ports->update(services_.port_source->present())) return;
    if (services_.use_ports) services_.use_ports(services_.ports->map());
    {
        const QSignalBlocker quiet(Combo1);
        const QString choice = Combo1->currentText();
        // As at start-up, a port this user may not open is not listed, and
        // the status line says why.
        auto listable = [](const PortBook::Entry& e) { return e.present && e.port.permitted; };
        discovery_.denied.clear();
        for (const PortBook::Entry& e : services_.ports->entries())
            if (e.present && !e.port.permitted && names_a_port(e.number)) discovery_.denied.push_back(e.number);
        for (int i = Combo1->count() - 1; i >= 0; --i) {
            const PortBook::Entry* e = services_.ports->at(port_number_of(Combo1->itemText(i).toStdString()));
            if ((!e || !listable(*e)) && Combo1->itemText(i) != choice) Combo1->removeItem(i);
        }
        for (const PortBook::Entry& e : services_.ports->entries()) {
            const QString name = QStringLiteral("COM%1").arg(e.number);
            if (!listable(e) || !names_a_port(e.number) || Combo1->findText(name, Qt::MatchExactly) >= 0) continue;
            int at = 0;
            while (at < Combo1->count() && port_number_of(Combo1->itemText(at).toStdString()) < e.number) ++at;
            Combo1->insertItem(at, name);
        }
        Combo1->setEditText(choice);
        label_ports();
    }
    show_choice();
}

// "COM1 · ttyUSB0 · CP2102 USB to UART" in the drop-down, "gone" for a
// device unplugged since; the popup is as wide as its longest line.
void Form1::label_ports() {
    if (!services_.ports) return;
    int widest = 0;
    for (int i = 0; i < Combo1->count(); ++i) {
        const PortBook::Entry* e = services_.ports->at(port_number_of(Combo1->itemText(i).toStdString()));
        QString label = Combo1->itemText(i);
        if (e) {
            label += QStringLiteral(" \u00B7 ") + QString::fromStdString(short_device_name(e->port.device));
            if (!e->present)
                label += QStringLiteral(" \u00B7 gone");
            else if (!e->port.description.empty())
                label += QStringLiteral(" \u00B7 ") + QString::fromStdString(e->port.description);
        }
        Combo1->setItemData(i, label, kPortLabelRole);
        widest = std::max(widest, Combo1->fontMetrics().horizontalAdvance(label));
    }
    Combo1->view()->setMinimumWidth(widest + 40);
}

QString help_text() {
    const QString crlf = QStringLiteral("\r\n");
    QString text = QStringLiteral("Help Information: ") + crlf + crlf;
    text += QStringLiteral("1.Open File:  Select the bin file that you want to send.") + crlf + crlf;
    text += QStringLiteral("2.Serial Ports:  Choose the port that is to send data.") + crlf + crlf;
    text += QStringLiteral("3.Send Data:  Press this button to star sending.");
    return text;
}

void Form1::show_help() {
    Text2->setFont(verdana(9));
    Text2->setPlainText(help_text());  // the box shows each CRLF as one line break
}

void Form1::Command1_Click() {
    // The dialog may return before the user has chosen: an upload that is
    // running goes on meanwhile.
    services_.CommonDialog1.ShowOpen(this, [this, before = services_.CommonDialog1.FileName()] {
        const std::string chosen = services_.CommonDialog1.FileName();
        Text1->setText(QString::fromStdString(chosen));
        if (chosen != before) show_choice();
    });
}

void Form1::Command2_Click() {
    if (uploading_) return;  // one upload at a time
    uploading_ = true;
    const UploadContext context{services_.MSComm1,
                                services_.clock,
                                *displays_,
                                messages(),
                                services_.files,
                                form_,
                                [this] { return init_serial_port(); },
                                status_.get(),
                                ReplyPacing->isChecked() ? Pace::Reply : Pace::Fixed};
    port_cause_.clear();
    status_->upload_started(port_cause_, path_box_note());
    last_result_ = run_upload(context, Text1->text().toStdString(), services_.CommonDialog1.FileName());
    status_->upload_ended(*last_result_, port_cause_);
    uploading_ = false;
    if (close_when_done_) close();
}

void Form1::Command3_Click() {
    if (uploading_) form_.stop_request = 1;
}

std::int16_t Form1::init_serial_port() {
    return vq::init_serial_port(Combo1->currentText().toStdString(), services_.MSComm1, messages(), &port_cause_);
}

MessageBox& Form1::messages() { return *upload_messages_; }

// The file sent is the one Open file chose; what is typed in the path box
// only has to be there. Said whenever the two differ.
QString Form1::path_box_note() const {
    const std::string chosen = services_.CommonDialog1.FileName();
    if (chosen.empty() || Text1->text().isEmpty() || Text1->text().toStdString() == chosen) return {};
    return QStringLiteral("Sends %1, the file chosen with Open file; the path box only has to be non-empty")
        .arg(QFileInfo(QString::fromStdString(chosen)).fileName());
}

void Form1::wait_seconds(float seconds) { vq::wait_seconds(seconds, services_.clock); }

std::int16_t Form1::read_reply() { return vq::read_reply(services_.MSComm1, form_); }

void Form1::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) refresh_ports();
    QWidget::changeEvent(event);
}

void Form1::closeEvent(QCloseEvent* event) {
    if (uploading_) {
        // Stop the upload as the Stop button does, without its message box;
        // the window closes once the upload has released the port.
        form_.stop_request = 1;
        close_when_done_ = true;
        event->ignore();
        return;
    }
    event->accept();
}

// The chosen port and file: which device the COM number stands for (in the
// port list's tooltip and the status line), whether it is busy, a port the
// user may not open, the file's size, and whether replies pace the upload.
void Form1::show_choice() {
    QStringList parts;
    const int n = port_number_of(Combo1->currentText().toStdString());
    const PortBook::Entry* chosen = services_.ports && names_a_port(n) ? services_.ports->at(n) : nullptr;
    QString port = chosen ? QStringLiteral("COM%1 is %2").arg(n).arg(QString::fromStdString(chosen->port.device))
                          : QStringLiteral("COM%1").arg(n);
    const bool busy = std::find(discovery_.busy.begin(), discovery_.busy.end(), n) != discovery_.busy.end();
    if (chosen && !chosen->present)
        port += QStringLiteral(" (gone: unplugged at %1)")
                    .arg(QDateTime::fromSecsSinceEpoch(chosen->gone_at).toString(QStringLiteral("HH:mm")));
    else if (chosen && chosen->is_new)
        port += QStringLiteral(" (new)");
    else if (busy)
        port += QStringLiteral(" (busy: another program holds it)");
    if (services_.ports) {
        QString tip = chosen ? port : QStringLiteral("No serial device behind this choice");
        if (chosen && !chosen->port.description.empty())
            tip += QStringLiteral(" \u00B7 ") + QString::fromStdString(chosen->port.description);
        Combo1->setToolTip(tip);
    }
    if (Combo1->count() == 0)
        parts << QStringLiteral("No serial ports found");
    else if (names_a_port(n))
        parts << port;
    // A port that exists but may not be opened is not listed; say so, and how to fix it.
    if (!discovery_.denied.empty()) {
        const int denied = discovery_.denied.front();
        const PortBook::Entry* e = services_.ports ? services_.ports->at(denied) : nullptr;
        const std::string name = "COM" + std::to_string(denied) + (e ? " (" + e->port.device + ")" : std::string());
        parts << QString::fromStdString(permission_problem(name));
    }
    const std::string file = services_.CommonDialog1.FileName();
    if (!file.empty()) {
        const QFileInfo info(QString::fromStdString(file));
        parts << info.fileName() + QStringLiteral(": ") +
                     (info.isFile()   ? QString::fromStdString(describe_size(info.size()))
                      : info.exists() ? QStringLiteral("not a regular file")
                                      : QStringLiteral("not found"));
    }
    const QString note = path_box_note();
    if (!note.isEmpty()) parts << note;
    Text1->setToolTip(note);
    if (ReplyPacing->isChecked()) parts << QStringLiteral("paced by replies");
    status_->show_choice(parts.join(QStringLiteral(" \u00B7 ")));
}

}  // namespace vq
