#include "ui/qt/form1.h"

#include <gtest/gtest.h>

#include "support/qt_print.h"

#include <QApplication>
#include <QFileDialog>
#include <QKeyEvent>
#include <QTimer>
#include <sys/stat.h>

#include "link/event_clock.h"
#include "protocol/failure.h"
#include "records/keeper.h"
#include "support/fake_link.h"
#include "support/recording_host.h"
#include "support/temp_file.h"
#include "support/virtual_clock.h"

namespace vq {
namespace {

class FakeDialog final : public FileDialog {
public:
    void ShowOpen(std::function<void()> closed) override {
        ++opened;
        if (!next.empty()) name = next;  // an empty choice is a cancel
        closed();
    }
    std::string FileName() const override { return name; }
    std::string next;
    std::string name;
    int opened = 0;
};

struct WindowTest : ::testing::Test {
    WindowTest() : window({link, clock, files, dialog, &messages, nullptr}) {
        link.set_port(1, test::PortKind::Opens);
        link.set_port(2, test::PortKind::Held);
        link.set_port(3, test::PortKind::Opens);
    }
    test::FakeLink link;
    test::VirtualClock clock;
    test::MemoryFiles files;
    test::RecordingMessages messages;
    FakeDialog dialog;
    Form1 window;
};

TEST_F(WindowTest, ControlsHaveTheirTextsFontsAndPlaces) {
    struct Row {
        QWidget* widget;
        QString text;
        double points;
        QRect twips_rect;
    };
    const Row rows[] = {
        {window.Label4, "Vellquin Tool", 18, twips(3720, 240, 2655, 615)},
        {window.Text1, "", 12, twips(240, 1080, 7935, 495)},
        {window.Command1, "Open file", 12, twips(8400, 1080, 1935, 495)},
        {window.Text2, "", 14.25, twips(240, 1800, 5200, 1950)},
        {window.Text4, "", 10.5, twips(5760, 1800, 855, 495)},
        {window.ProgressBar1, "", -1, twips(6840, 1800, 3495, 495)},
        {window.Label1, QStringLiteral("  Serial Ports") + QChar(0xFF1A), 14.25, twips(5760, 2640, 2415, 375)},
        {window.Combo1, "", 14.25, twips(8040, 2580, 1455, 465)},
        {window.Command2, "Send Data", 12, twips(6840, 3240, 1815, 735)},
        {window.Command3, "Stop", 12, twips(8760, 3240, 1575, 735)},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.widget->objectName().toStdString());
        EXPECT_EQ(r.widget->geometry(), r.twips_rect);
        EXPECT_TRUE(QRect(0, 0, 707, 285).contains(r.widget->geometry()));
        if (r.points > 0) {
            EXPECT_EQ(r.widget->font().family(), "Verdana");
            EXPECT_DOUBLE_EQ(r.widget->font().pointSizeF(), r.points);
        }
        QString text;
        if (auto* l = qobject_cast<QLabel*>(r.widget)) text = l->text();
        if (auto* e = qobject_cast<QLineEdit*>(r.widget)) text = e->text();
        if (auto* b = qobject_cast<QPushButton*>(r.widget)) text = b->text();
        EXPECT_EQ(text, r.text);
    }
    EXPECT_EQ(twips(240, 1080, 7935, 495), QRect(16, 72, 529, 33)) << "15 twips to a pixel";
    EXPECT_EQ(window.size(), QSize(707, 285 + 28)) << "the client area of the controls plus the status line";
    EXPECT_GE(window.StatusLine->geometry().top(), 285) << "the status line sits below the other controls";
    EXPECT_EQ(window.windowTitle(), "Form1");
    EXPECT_TRUE(window.Combo1->isEditable());
    EXPECT_EQ(window.ProgressBar1->minimum(), 0);
    EXPECT_EQ(window.ProgressBar1->maximum(), 100);
}

TEST_F(WindowTest, TabOrderRunsFromOpenFileToTheHelpText) {
    std::vector<QWidget*> chain{window.Command1};
    for (QWidget* w = window.Command1->nextInFocusChain(); w != window.Command1 && chain.size() < 40;
         w = w->nextInFocusChain())
        chain.push_back(w);
    const std::vector<QWidget*> order{window.Command1,     window.Text1,  window.Command2, window.Command3,
                                      window.ProgressBar1, window.Combo1, window.Label1,   window.Text4,
                                      window.Label4,       window.Text2};
    std::vector<QWidget*> seen;
    for (QWidget* w : chain)
        if (std::find(order.begin(), order.end(), w) != order.end()) seen.push_back(w);
    EXPECT_EQ(seen, order);
}

TEST_F(WindowTest, StartUpSetsTheIntegersWritesTheHelpAndListsThePorts) {
    window.form().reply_code = 1;
    window.form().nak_count = 9;
    window.form().stop_request = 1;
    window.Form_Load();

    EXPECT_EQ(window.form().reply_code, 4);
    EXPECT_EQ(window.form().nak_count, 0);
    EXPECT_EQ(window.form().stop_request, 0);
    const QString help =
        "Help Information: \r\n\r\n"
        "1.Open File:  Select the bin file that you want to send.\r\n\r\n"
        "2.Serial Ports:  Choose the port that is to send data.\r\n\r\n"
        "3.Send Data:  Press this button to star sending.";
    EXPECT_EQ(QString::fromStdString(help_text()), help);
    EXPECT_EQ(window.Text2->toPlainText(), QString(help).replace("\r\n", "\n"));
    EXPECT_DOUBLE_EQ(window.Text2->font().pointSizeF(), 9);
    ASSERT_EQ(window.Combo1->count(), 3);
    EXPECT_EQ(window.Combo1->itemText(0), "COM1");
    EXPECT_EQ(window.Combo1->itemText(1), "COM2");
    EXPECT_EQ(window.Combo1->itemText(2), "COM3");
    EXPECT_EQ(window.Combo1->currentText(), "COM1");
    EXPECT_FALSE(link.open());
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(WindowTest, StartUpSetsTheIntegersBeforeTheHelpAndWritesTheHelpBeforeTheListIsCleared) {
    window.form() = {1, 9, 1};
    window.Combo1->addItem("left from before");
    std::vector<std::string> at_help;
    QObject::connect(window.Text2, &QPlainTextEdit::textChanged, [&] {
        const FormState& f = window.form();
        at_help.push_back(std::to_string(f.reply_code) + " " + std::to_string(f.nak_count) + " " +
                          std::to_string(f.stop_request) + " " + std::to_string(window.Combo1->count()));
    });
    window.Form_Load();
    EXPECT_EQ(at_help, std::vector<std::string>{"4 0 0 1"}) << "start values, then the help, then the list";
    EXPECT_EQ(window.Combo1->itemText(0), "COM1");
}

TEST_F(WindowTest, NoPortsLeaveAnEmptyListAndSendingStopsAtInvalidSerialPort) {
    test::FakeLink empty;
    Form1 w({empty, clock, files, dialog, &messages, nullptr});
    w.Form_Load();
    EXPECT_EQ(w.Combo1->count(), 0);
    EXPECT_EQ(w.Combo1->currentText(), "");
    dialog.next = "fw.bin";
    files.put("fw.bin", {1, 2, 3});
    w.Command1_Click();
    w.Command2_Click();
    EXPECT_EQ(messages.shown, (std::vector<std::string>{"Invalid Serial Port", "Serial port is invalid!"}));
}

TEST_F(WindowTest, StatusLineNamesThePortItsDeviceAndTheFileBeforeAnUpload) {
    PortBook ports(Platform::Linux);
    ports.update({{"/dev/ttyUSB0", "", "usb A"}, {"/dev/ttyUSB1", "", "usb B"}, {"/dev/ttyS0", "", "device /dev/ttyS0"}});
    Form1 w({link, clock, files, dialog, &messages, &ports});
    w.Form_Load();
    EXPECT_EQ(w.StatusLine->text(), "COM1 is /dev/ttyUSB0");
    w.Combo1->setCurrentIndex(1);
    EXPECT_EQ(w.StatusLine->text(), "COM2 is /dev/ttyUSB1 (busy: another program holds it)");
    EXPECT_EQ(w.Combo1->toolTip(), "COM2 is /dev/ttyUSB1 (busy: another program holds it)");

    test::TempDir dir;
    dialog.next = dir.write("fw.bin", std::vector<std::uint8_t>(2500));
    w.Command1_Click();
    EXPECT_EQ(w.StatusLine->text(), "COM2 is /dev/ttyUSB1 (busy: another program holds it) \u00B7 fw.bin: 2500 bytes, 3 blocks");
    w.ProtocolChoice->setCurrentIndex(1);
    EXPECT_TRUE(w.StatusLine->text().contains("fw.bin: 2500 bytes, 20 blocks \u00B7 XMODEM")) << "128-byte blocks";
    w.ProtocolChoice->setCurrentIndex(0);
    w.Text1->setText("fw60k.bin");
    const QString note = "Sends fw.bin, the file chosen with Open file; the path box only has to be non-empty";
    EXPECT_TRUE(w.StatusLine->text().startsWith(note + " \u00B7 ")) << w.StatusLine->text().toStdString();
    EXPECT_EQ(w.Text1->toolTip(), note);
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    dialog.next = dir.file("fifo");
    w.Command1_Click();
    EXPECT_TRUE(w.StatusLine->text().endsWith(" \u00B7 fifo: not a regular file")) << w.StatusLine->text().toStdString();
    EXPECT_EQ(w.Text1->toolTip(), "");

    test::FakeLink none;
    Form1 empty({none, clock, files, dialog, &messages, &ports});
    empty.Form_Load();
    EXPECT_TRUE(empty.StatusLine->text().startsWith("No serial ports found \u00B7 fifo: not a regular file"));

    test::FakeLink refusing;
    refusing.set_port(1, test::PortKind::Opens);
    refusing.set_port(3, test::PortKind::Opens);
    refusing.fail("PortOpen=true", err::PermissionDenied, 3);  // ports 1..3 refused
    Form1 denied({refusing, clock, files, dialog, &messages, &ports});
    denied.Form_Load();
    EXPECT_EQ(denied.Combo1->count(), 0);
    EXPECT_TRUE(denied.StatusLine->text().startsWith(
        "No serial ports found \u00B7 COM1 (/dev/ttyUSB0) exists but you may not open it"))
        << denied.StatusLine->text().toStdString();
}

TEST_F(WindowTest, CancellingTheDialogKeepsThePreviousChoice) {
    window.Command1_Click();
    EXPECT_EQ(window.Text1->text(), "") << "cancelled on first use";
    dialog.next = "/tmp/a.bin";
    window.Command1_Click();
    EXPECT_EQ(window.Text1->text(), "/tmp/a.bin");
    dialog.next.clear();
    window.Command1_Click();
    EXPECT_EQ(window.Text1->text(), "/tmp/a.bin");
}

TEST(QtFileDialogTest, TakesATypedNameOfAFileThatDoesNotExist) {
    QWidget window;
    QtFileDialog dialog;
    dialog.set_window(&window);
    test::TempDir dir;
    const std::string missing = dir.file("typed.bin");
    bool closed = false;
    dialog.ShowOpen([&] { closed = true; });
    auto* shown = window.findChild<QFileDialog*>();
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->nameFilters(), QStringList{"All Files (*)"}) << "no filter of its own";
    shown->selectFile(QString::fromStdString(missing));
    QTimer::singleShot(1000, [] {  // a dialog that refuses the name asks in a box of its own
        if (QWidget* box = QApplication::activeModalWidget(); box && !qobject_cast<QFileDialog*>(box)) box->close();
    });
    static_cast<QDialog*>(shown)->accept();  // as its Open button does
    EXPECT_TRUE(closed);
    EXPECT_EQ(dialog.FileName(), missing);
}

TEST_F(WindowTest, SendDataWithNoFileOnlyCleansUpAndClosesAPortLeftOpen) {
    link.setCommPort(1);
    link.setPortOpen(true);
    window.Command2_Click();
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(window.Text4->text(), " ");
    EXPECT_EQ(window.ProgressBar1->value(), 0);
    EXPECT_FALSE(link.open());
}

TEST_F(WindowTest, EnterAndSpaceBothPressAFocusedButton) {
    for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
        const int before = dialog.opened;
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
        QApplication::sendEvent(window.Command1, &press);
        QApplication::sendEvent(window.Command1, &release);
        EXPECT_EQ(dialog.opened, before + 1) << "key " << key;
    }
}

TEST_F(WindowTest, AfterAMissingFileEmptyingThePathBoxLetsSendDataReleaseThePort) {
    window.Form_Load();
    dialog.next = "missing.bin";
    window.Command1_Click();
    window.Command2_Click();
    ASSERT_EQ(messages.shown, std::vector<std::string>{"File Not Exisits!"});
    ASSERT_TRUE(link.open()) << "the port stays open after the missing file";

    window.Text1->selectAll();
    QKeyEvent erase(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(window.Text1, &erase);
    window.Command2_Click();
    EXPECT_FALSE(link.open());
}

TEST(StatusLineText, ALongTextIsShortenedAtItsEndKeepingItsCauseFirstAndWholeInTheTooltip) {
    ElidingLabel label;
    label.setFrameShape(QFrame::StyledPanel);
    label.resize(300, 24);
    StatusLine line([&] { return label.text().toStdString(); }, [&](const std::string& text) {
        label.setText(QString::fromStdString(text));
        label.setToolTip(label.text());
    });
    const QString text = "COM1 (/dev/serial/by-id/usb-Silicon_Labs_CP2102_0001-if00-port0) exists but you may not "
                         "open it \u00B7 fw.bin: 2500 bytes, 3 blocks";
    line.show_choice(text.toStdString());
    EXPECT_EQ(label.toolTip(), text);
    const QString shown = label.shown_text();
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
    EXPECT_TRUE(shown.startsWith("COM1 (/dev/serial/by-id/usb-Silicon") && shown.endsWith(QChar(0x2026)))
        << shown.toStdString();
    EXPECT_LE(label.fontMetrics().horizontalAdvance(shown), label.contentsRect().width());
}

TEST(WindowWait, AButtonClickedDuringAWaitRunsBeforeTheWaitReturns) {
    test::FakeLink link;
    EventClock clock;
    test::MemoryFiles files;
    FakeDialog dialog;
    test::RecordingMessages messages;
    Form1 window({link, clock, files, dialog, &messages, nullptr});
    window.show();
    QTimer::singleShot(30, [&] { window.Command1->click(); });
    window.wait_seconds(0.1f);
    EXPECT_EQ(dialog.opened, 1);
}

struct MemorySettings final : Settings {
    std::string get(const std::string& key) const override {
        const auto found = values.find(key);
        return found == values.end() ? std::string() : found->second;
    }
    void set(const std::string& key, const std::string& value) override { values[key] = value; }
    std::map<std::string, std::string> values;
};

TEST(RecordsSetting, IsRememberedAcrossRunsAndABadPlaceLeavesTheOneBefore) {
    test::FakeLink link;
    test::VirtualClock clock;
    test::MemoryFiles files;
    test::RecordingMessages messages;
    FakeDialog dialog;
    MemorySettings settings;
    settings.values[kRecordsSetting] = "sqlite:/srv/line-1.sqlite";  // from the run before
    records::RecordKeeper keeper({}, "spool.sqlite");
    std::optional<std::string> answer;
    std::string shown;
    Form1 window({link, clock, files, dialog, &messages, nullptr, nullptr, {}, &keeper, &settings,
                  [&](const std::string&, const std::string& current) {
                      shown = current;
                      return answer;
                  }});
    window.Form_Load();
    EXPECT_EQ(records::records_target_text(keeper.target()), "sqlite:/srv/line-1.sqlite");
    const struct {
        std::optional<std::string> answer;
        std::string target, remembered, status;
    } rows[] = {
        {std::nullopt, "sqlite:/srv/line-1.sqlite", "sqlite:/srv/line-1.sqlite", ""},
        {"postgresql://station@db/line", "postgresql://station@db/line", "postgresql://station@db/line",
         "Records go to postgresql://station@db/line from now on"},
        {"mysql://db", "postgresql://station@db/line", "postgresql://station@db/line",
         "Records: records \"mysql://db\" names no place for them: none, sqlite:PATH or postgresql://...; they "
         "still go to postgresql://station@db/line"},
        {"none", "none", "none", "Records: none are kept from now on"},
    };
    for (const auto& r : rows) {
        answer = r.answer;
        window.StatusLine->setText({});
        window.records_asked();
        EXPECT_EQ(records::records_target_text(keeper.target()), r.target);
        EXPECT_EQ(settings.values[kRecordsSetting], r.remembered);
        EXPECT_EQ(window.StatusLine->text().toStdString(), r.status);
    }
    EXPECT_EQ(shown, "postgresql://station@db/line") << "the place in use is offered";
}

}  // namespace
}  // namespace vq
