#include "ui/qt/form1.h"

#include <QAction>
#include <QCloseEvent>
#include <QInputDialog>
#include <QFontDatabase>
#include <QScrollBar>
#include <QTextCursor>
#include <QFont>
#include <QAbstractItemView>
#include <QKeyEvent>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <algorithm>


namespace vq {
namespace {

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

Form1::Form1(Form1Services services, QWidget* parent) : QWidget(parent), own_messages_(this) {
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
    ports->about_to_open = [this] { form_->refresh_ports(); };
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
    StatusLine = place<ElidingLabel>(this, twips(240, kClientHeight, kStatusWidth, kStatusHeight - 60), 9);
    StatusLine->setFrameShape(QFrame::StyledPanel);
    ProtocolChoice = place<QComboBox>(this,
                                twips(kClientWidth - 240 - kToggleWidth - 60 - kProtocolWidth, kClientHeight,
                                      kProtocolWidth, kStatusHeight - 60),
                                9);
    ProtocolChoice->setToolTip(QString::fromUtf8(kProtocolTip));
    ReplyPacing = place<QToolButton>(
        this, twips(kClientWidth - 240 - kToggleWidth, kClientHeight, kToggleWidth, kStatusHeight - 60), 9);
    ReplyPacing->setCheckable(true);
    ConsoleToggle = place<QToolButton>(this,
                                       twips(kClientWidth - 240 - kToggleWidth - 60 - kProtocolWidth - 60 -
                                                 kConsoleToggleWidth,
                                             kClientHeight, kConsoleToggleWidth, kStatusHeight - 60),
                                       9, QStringLiteral("Console"));
    ConsoleToggle->setCheckable(true);
    ConsoleToggle->setToolTip(QString::fromUtf8(kConsoleTip));
    const int pane = kClientHeight + kStatusHeight;
    auto* command_label = place<QLabel>(this, twips(240, pane, 2040, kConsoleRowHeight), 9,
                                        QStringLiteral("Command at the prompt:"));
    CommandText = place<QLineEdit>(this, twips(2340, pane, 2100, kConsoleRowHeight), 9);
    CommandText->setPlaceholderText(QStringLiteral("loady"));
    CommandText->setToolTip(QString::fromUtf8(kCommandTip));
    command_label->setBuddy(CommandText);
    ConsoleInput = place<QLineEdit>(this, twips(4560, pane, kClientWidth - 4800, kConsoleRowHeight), 9);
    ConsoleInput->setPlaceholderText(QStringLiteral("A line for the board: Enter sends it"));
    ConsoleText = place<QPlainTextEdit>(
        this, twips(240, pane + kConsoleRowHeight + 60, kClientWidth - 480, kConsoleHeight - kConsoleRowHeight - 180),
        0);
    ConsoleText->setReadOnly(true);
    ConsoleText->setMaximumBlockCount(5000);
    ConsoleText->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    for (QWidget* w : std::initializer_list<QWidget*>{command_label, CommandText, ConsoleInput, ConsoleText}) w->hide();
    console_poll_ = new QTimer(this);
    console_poll_->setInterval(50);

    const char* names[] = {"Label4",        "Text1",       "Command1",    "Text2",        "Text4",
                           "ProgressBar1",  "Label1",      "Combo1",      "Command2",     "Command3",
                           "StatusLine",    "ProtocolChoice", "ReplyPacing", "ConsoleToggle", "CommandText",
                           "ConsoleInput",  "ConsoleText"};
    QWidget* widgets[] = {Label4,       Text1,  Command1, Text2,    Text4,         ProgressBar1,
                          Label1,       Combo1, Command2, Command3, StatusLine,    ProtocolChoice,
                          ReplyPacing,  ConsoleToggle, CommandText, ConsoleInput, ConsoleText};
    for (std::size_t i = 0; i < std::size(widgets); ++i) widgets[i]->setObjectName(QString::fromLatin1(names[i]));

    displays_ = std::make_unique<QtDisplays>(*ProgressBar1, *Text4);
    port_list_ = std::make_unique<ComboPortList>(*Combo1);
    form_ = std::make_unique<Form>(
        static_cast<FormView&>(*this),
        form_services(services, own_messages_, *displays_,
                      [this](const std::string& prompt, const std::string& current) -> std::optional<std::string> {
                          bool ok = false;
                          const QString text = QInputDialog::getText(
                              this, QStringLiteral("Vellquin Tool"), QString::fromStdString(prompt), QLineEdit::Normal,
                              QString::fromStdString(current), &ok);
                          return ok ? std::optional(text.trimmed().toStdString()) : std::nullopt;
                      }));
    // Where the records go, from the status line's menu: the layout stays as it is.
    auto* records = new QAction(QStringLiteral("Where records go\u2026"), StatusLine);
    StatusLine->setContextMenuPolicy(Qt::ActionsContextMenu);
    StatusLine->addAction(records);
    connect(records, &QAction::triggered, this, [this] { form_->records_asked(); });

    connect(Command1, &QPushButton::clicked, this, [this] { form_->Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { form_->Command2_Click(); });
    connect(Command3, &QPushButton::clicked, this, [this] { form_->Command3_Click(); });
    connect(Combo1, &QComboBox::currentTextChanged, this, [this] { form_->choice_changed(); });
    connect(ReplyPacing, &QToolButton::toggled, this, [this] { form_->pacing_toggled(); });
    connect(ProtocolChoice, &QComboBox::currentIndexChanged, this, [this] { form_->protocol_chosen(); });
    connect(Text1, &QLineEdit::textChanged, this, [this] { form_->choice_changed(); });
    connect(CommandText, &QLineEdit::textChanged, this, [this] { form_->choice_changed(); });
    connect(ConsoleToggle, &QToolButton::toggled, this, [this, command_label](bool on) {
        for (QWidget* w : std::initializer_list<QWidget*>{command_label, CommandText, ConsoleInput, ConsoleText})
            w->setVisible(on);
        setFixedSize(twips(0, 0, kClientWidth, kClientHeight + kStatusHeight + (on ? kConsoleHeight : 0)).size());
        if (on) console_poll_->start();
        else console_poll_->stop();
        form_->console_toggled(on);
    });
    connect(console_poll_, &QTimer::timeout, this, [this] { form_->console_tick(); });
    connect(ConsoleInput, &QLineEdit::returnPressed, this, [this] {
        form_->console_line(ConsoleInput->text().toStdString());
        ConsoleInput->clear();
    });
}

Form1::~Form1() = default;

void Form1::show_help_text(const std::string& text) {
    Text2->setFont(verdana(9));
    Text2->setPlainText(QString::fromStdString(text));  // the box shows each CRLF as one line break
}

// The popup is as wide as its longest line.
void Form1::set_port_labels(const std::vector<std::string>& labels) {
    int widest = 0;
    for (int i = 0; i < Combo1->count() && i < static_cast<int>(labels.size()); ++i) {
        const QString label = QString::fromStdString(labels[static_cast<std::size_t>(i)]);
        Combo1->setItemData(i, label, kPortLabelRole);
        widest = std::max(widest, Combo1->fontMetrics().horizontalAdvance(label));
    }
    Combo1->view()->setMinimumWidth(widest + 40);
}

void Form1::set_status_text(const std::string& text) {
    StatusLine->setText(QString::fromStdString(text));
    StatusLine->setToolTip(StatusLine->text());
}

void Form1::set_pacing_on(bool on) {
    const QSignalBlocker quiet(ReplyPacing);  // the form's own change is no click
    ReplyPacing->setChecked(on);
}

void Form1::set_pacing_caption(const std::string& text, bool bold) {
    ReplyPacing->setText(QString::fromStdString(text));
    QFont font = ReplyPacing->font();
    font.setBold(bold);
    ReplyPacing->setFont(font);
}

void Form1::set_protocol_entries(const std::vector<std::string>& names) {
    ProtocolChoice->clear();
    for (const std::string& name : names) ProtocolChoice->addItem(QString::fromStdString(name));
    ProtocolChoice->setCurrentIndex(0);
}

// The text goes at the end, and the view follows it there.
void Form1::append_console_text(const std::string& text) {
    QTextCursor end(ConsoleText->document());
    end.movePosition(QTextCursor::End);
    end.insertText(QString::fromUtf8(text));
    ConsoleText->verticalScrollBar()->setValue(ConsoleText->verticalScrollBar()->maximum());
}

void Form1::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) form_->refresh_ports();
    QWidget::changeEvent(event);
}

void Form1::closeEvent(QCloseEvent* event) {
    if (form_->may_close()) event->accept();
    else event->ignore();
}

}  // namespace vq
