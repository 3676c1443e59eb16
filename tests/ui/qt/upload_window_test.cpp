// Uploads driven through the window.

#include <gtest/gtest.h>

#include "support/qt_print.h"

#include <cstdlib>

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTimer>

#include "link/event_clock.h"
#include "link/posix_serial_link.h"
#include "protocol/image_file.h"
#include "protocol/report.h"
#include "sim/pty_device.h"
#include "support/boot_console.h"
#include "support/fake_link.h"
#include "support/recording_host.h"
#include "support/scripted_device.h"
#include "support/standard_receiver.h"
#include "support/temp_file.h"
#include "records/store.h"
#include "records/keeper.h"
#include "support/virtual_clock.h"
#include "ui/qt/form1.h"

namespace vq {
namespace {

class ChosenFile final : public FileDialog {
public:
    void ShowOpen(std::function<void()> closed) override {
        if (!next.empty()) name = next;  // an empty choice is a cancel
        closed();
    }
    std::string FileName() const override { return name; }
    std::string next, name;
};

// The window on the virtual clock, with a scripted device behind COM1.
struct VirtualWindow {
    explicit VirtualWindow(sim::DeviceBehaviour behaviour = {}, records::RecordKeeper* records = nullptr)
        : device(link, clock, behaviour),
          window({link, clock, files, dialog, &messages, nullptr, nullptr, {}, records}) {
        link.set_port(1, test::PortKind::Opens);
        clock.set_budget(600);
        window.Form_Load();
        files.put("fw.bin", std::vector<std::uint8_t>(10000, 0x5A));
        dialog.next = "fw.bin";
        window.Command1_Click();
    }
    test::FakeLink link;
    test::VirtualClock clock;
    test::MemoryFiles files;
    test::RecordingMessages messages;
    test::ScriptedDevice device;
    ChosenFile dialog;
    Form1 window;
};

TEST(UploadWindow, SendDataPressedDuringAnUploadStartsNoSecondOne) {
    VirtualWindow v;
    const int probe_openings = v.link.openings();
    for (double t : {1.0, 1.05, 1.5}) v.clock.at(t, [&] { v.window.Command2->click(); });
    // A choice changed meanwhile leaves the progress on the line, and Open
    // file stays usable.
    QString line_after_a_change;
    bool open_file_usable = false;
    v.clock.at(1.2, [&] {
        v.window.Text1->setText("other.bin");
        v.window.Combo1->setEditText("COM2");
        line_after_a_change = v.window.StatusLine->text();
        open_file_usable = v.window.Command1->isEnabled();
    });
    v.window.Command2_Click();
    EXPECT_EQ(v.link.openings() - probe_openings, 1);
    EXPECT_EQ(v.messages.shown, std::vector<std::string>{"Sending Finished!"});
    EXPECT_EQ(v.device.receiver.images().size(), 1u);
    EXPECT_FALSE(v.window.uploading());
    EXPECT_TRUE(line_after_a_change.startsWith("Block ")) << line_after_a_change.toStdString();
    EXPECT_TRUE(open_file_usable);
    EXPECT_TRUE(v.window.Command1->isEnabled());
}

TEST(UploadWindow, StopDuringTheBlocksCancelsAndShowsSendingFinised) {
    VirtualWindow v;
    v.clock.at(1.2, [&] { v.window.Command3->click(); });
    v.window.Command2_Click();
    ASSERT_TRUE(v.window.last_result());
    EXPECT_EQ(v.window.last_result()->end, UploadEnd::StoppedAcked);
    EXPECT_EQ(v.messages.shown, std::vector<std::string>{"Sending Finised!"});
    EXPECT_FALSE(v.link.open());
}

TEST(UploadWindow, ClosingTheWindowDuringAnUploadStopsItThenCloses) {
    VirtualWindow v;
    v.window.show();
    bool was_ignored = false;
    v.clock.at(1.2, [&] { was_ignored = !v.window.close(); });
    v.window.Command2_Click();
    EXPECT_TRUE(was_ignored) << "the window stays until the upload has cleaned up";
    EXPECT_EQ(v.window.last_result()->end, UploadEnd::StoppedAcked);
    EXPECT_FALSE(v.link.open());
    EXPECT_FALSE(v.window.isVisible());
}

TEST(UploadWindow, ClosingTheWindowInAnyPhaseReleasesThePort) {
    const struct {
        const char* phase;
        sim::DeviceBehaviour behaviour;
        double close_at;
    } rows[] = {
        {"wake-up", sim::DeviceBehaviour{.never_start = true}, 2.0},
        {"waiting for the start request", sim::DeviceBehaviour{.never_start = true}, 35.0},
        {"blocks", {}, 1.0},
        {"ending", sim::DeviceBehaviour{.never_ack_eot = true}, 2.0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.phase);
        VirtualWindow v(r.behaviour);
        v.window.show();
        v.clock.at(r.close_at, [&] { v.window.close(); });
        v.window.Command2_Click();
        EXPECT_TRUE(v.messages.shown.empty()) << "closing asks for no OK";
        EXPECT_FALSE(v.link.open());
        EXPECT_FALSE(v.window.isVisible());
        EXPECT_LT(v.clock.now() - r.close_at, 1.25);
    }
}

TEST(UploadWindow, StopPressedRepeatedlyEndsOneUploadAndTheNextOneWorks) {
    VirtualWindow v;
    for (int i = 0; i < 20; ++i) v.clock.at(1.0 + i * 0.004, [&] { v.window.Command3->click(); });
    v.window.Command2_Click();
    EXPECT_EQ(v.window.last_result()->end, UploadEnd::StoppedAcked);
    EXPECT_EQ(v.messages.shown, std::vector<std::string>{"Sending Finised!"});
    v.window.Command3->click();  // idle: nothing to stop
    v.window.Command2_Click();
    EXPECT_EQ(v.window.last_result()->end, UploadEnd::Finished);
    EXPECT_FALSE(v.link.open());
}

TEST(UploadWindow, OpenFileDuringAnUploadLeavesTheRunningUploadItsFile) {
    VirtualWindow v;
    v.files.put("other.bin", std::vector<std::uint8_t>(50, 0x11));
    v.dialog.next = "other.bin";
    v.clock.at(1.0, [&] { v.window.Command1->click(); });
    v.window.Command2_Click();
    ASSERT_EQ(v.device.receiver.images().size(), 1u);
    EXPECT_EQ(v.device.receiver.images()[0][0], 0x5A);
    EXPECT_EQ(v.window.Text1->text(), "other.bin");
}

TEST(UploadWindow, TheReplyPacingToggleIsOffAtStartAndPacesTheNextUploadAsTheStatusLineSays) {
    VirtualWindow v;
    v.window.Text1->setText("fw60k.bin");
    QString during;
    v.clock.at(0.505, [&] { during = v.window.StatusLine->text(); });
    EXPECT_FALSE(v.window.ReplyPacing->isChecked());
    EXPECT_EQ(v.window.ReplyPacing->text(), "Reply pacing: off");
    v.window.ReplyPacing->click();
    EXPECT_EQ(v.window.ReplyPacing->text(), "\u2714 Reply pacing: on");
    EXPECT_GE(v.window.ReplyPacing->width(), v.window.ReplyPacing->sizeHint().width()) << "its bold caption fits";
    EXPECT_TRUE(v.window.StatusLine->text().endsWith("paced by replies"));
    v.window.Command2_Click();
    EXPECT_EQ(v.window.last_result()->pace, Pace::Reply);
    EXPECT_TRUE(during.startsWith("Block ") && during.endsWith(" \u00B7 paced by replies \u00B7 Sends fw.bin, the file "
                                                                "chosen with Open file; the path box only has to be non-empty"))
        << during.toStdString();
    EXPECT_LT(v.clock.now(), 0.6) << "the ten blocks were answered within a millisecond each";
}

TEST(UploadWindow, TheProtocolChoiceStartsAsDeviceAndSendsYmodemAsTheStatusLineSays) {
    VirtualWindow v;
    EXPECT_EQ(v.window.ProtocolChoice->count(), 4);
    EXPECT_EQ(v.window.ProtocolChoice->currentText(), "device protocol");
    test::StandardReceiver receiver(v.link, v.clock, Protocol::Ymodem);
    receiver.ask(wire::START, 2.0);
    QString waiting;
    v.clock.at(1.0, [&] { waiting = v.window.StatusLine->text(); });
    v.window.ReplyPacing->click();  // reply pacing for the device protocol, kept while another is chosen
    v.window.ProtocolChoice->setCurrentIndex(3);
    EXPECT_EQ(v.window.ReplyPacing->text(), "Start wait: 60 s") << "replies pace the device's own protocol only";
    v.window.ReplyPacing->click();
    EXPECT_EQ(v.window.ReplyPacing->text(), "Start wait: 120 s");
    EXPECT_TRUE(v.window.StatusLine->text().endsWith("YMODEM, when the receiver asks within 120 s"));
    v.window.Command2_Click();
    EXPECT_EQ(v.messages.shown, std::vector<std::string>{"Sending Finished!"});
    EXPECT_EQ(receiver.name, "fw.bin");
    EXPECT_EQ(test::Bytes(receiver.data.begin(), receiver.data.begin() + 10000), test::Bytes(10000, 0x5A));
    EXPECT_TRUE(waiting.startsWith("Waiting for") && waiting.contains("YMODEM")) << waiting.toStdString();
    v.window.ProtocolChoice->setCurrentIndex(0);
    EXPECT_EQ(v.window.ReplyPacing->text(), "\u2714 Reply pacing: on");
    EXPECT_TRUE(v.window.ReplyPacing->isChecked());
}

TEST(UploadWindow, TheStartWaitChosenInTheWindowEndsAWaitForASilentReceiver) {
    VirtualWindow v;
    v.window.ProtocolChoice->setCurrentIndex(1);
    for (int i = 0; i < 3; ++i) v.window.ReplyPacing->click();  // 60, 120, 300, 10 s
    EXPECT_EQ(v.window.ReplyPacing->text(), "Start wait: 10 s");
    v.window.Command2_Click();
    EXPECT_EQ(v.window.last_result()->end, UploadEnd::NoStart);
    EXPECT_NEAR(v.clock.now(), 10.0, 0.5);
}

TEST(UploadWindow, TheCommandInTheConsolePaneIsTypedAtThePromptAndTheReceiversWordsShowThere) {
    const struct {
        const char* command;
        UploadEnd end;
        bool received;
    } rows[] = {{" loady ", UploadEnd::Finished, true}, {"loadx", UploadEnd::ReceiverRefused, false}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.command);
        VirtualWindow v;
        v.window.ProtocolChoice->setCurrentIndex(3);  // YMODEM
        test::StandardReceiver receiver(v.link, v.clock, Protocol::Ymodem);
        test::BootConsole board(receiver, v.link, v.clock, [&v] { v.window.Command3_Click(); });
        board.report = 10000;
        v.window.CommandText->setText(QString::fromLatin1(r.command));
        EXPECT_FALSE(v.window.StatusLine->text().contains("Types")) << "the command is the shown pane's";
        v.window.ConsoleToggle->click();
        EXPECT_TRUE(v.window.StatusLine->text().endsWith(
            QStringLiteral("Types %1 at the board's prompt, then YMODEM if the receiver speaks it")
                .arg(QString::fromLatin1(r.command).trimmed())))
            << v.window.StatusLine->text().toStdString();
        v.window.Command2_Click();
        EXPECT_EQ(v.window.last_result()->end, r.end) << describe_end(*v.window.last_result());
        EXPECT_EQ(receiver.data.size(), r.received ? 10240u : 0u) << "padded to whole blocks";
        const QString console = v.window.ConsoleText->toPlainText();
        EXPECT_TRUE(console.contains("## Ready for binary")) << console.toStdString();
        EXPECT_EQ(console.contains("## Total Size      = 0x0 = 10000 Bytes"), r.end == UploadEnd::Finished)
            << console.toStdString();
    }
}

TEST(UploadWindow, EachUploadIsOnRecordBeforeItsBoxAndTheStatusLineSaysWhere) {
    const test::TempDir dir;
    records::RecordKeeper keeper({records::RecordsTarget::Sqlite, dir.file("records.sqlite")}, dir.file("spool.sqlite"));
    VirtualWindow v({}, &keeper);
    std::size_t on_record_at_the_box = 0;
    v.messages.on_show = [&](const std::string&) {
        on_record_at_the_box = records::list(*records::open_sqlite_store(dir.file("records.sqlite")), {}).size();
    };
    v.window.Command2_Click();
    EXPECT_EQ(on_record_at_the_box, 1u);
    const auto kept = records::list(*records::open_sqlite_store(dir.file("records.sqlite")), {});
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(std::tie(kept[0].outcome, kept[0].port, kept[0].image_bytes),
              std::make_tuple(std::string("finished"), std::string("COM1"), std::int64_t{10000}));
    EXPECT_EQ(kept[0].image_sha256, "2fa3eb87256b150eb851e6eb6e679eafb0151f8944f5e16e9cac6a67d424a67f");
    EXPECT_TRUE(v.window.StatusLine->text().endsWith("Record kept in sqlite:" +
                                                     QString::fromStdString(dir.file("records.sqlite"))))
        << v.window.StatusLine->text().toStdString();
}

// Serial devices the test plugs in and pulls out.
struct Plugged final : PortSource {
    std::vector<PortInfo> devices;
    std::vector<PortInfo> present() override { return devices; }
};

TEST(UploadWindow, PortsThatComeAndGoKeepTheirNumbersAndShowAsTheyAreButNotDuringAnUpload) {
    const PortInfo a{"/dev/ttyUSB0", "CP2102 USB to UART", "usb A"}, b{"/dev/ttyUSB1", "FT232R", "usb B"};
    const PortInfo b_again{"/dev/ttyUSB3", "FT232R", "usb B"};
    Plugged plugged;
    plugged.devices = {a};
    PortBook book(Platform::Linux);
    book.update(plugged.present());
    VirtualWindow v;
    PortMap handed;
    Form1 w({v.link, v.clock, v.files, v.dialog, &v.messages, &book, &plugged, [&](const PortMap& m) { handed = m; }});
    w.Form_Load();
    auto listed = [&] {
        QStringList items;
        for (int i = 0; i < w.Combo1->count(); ++i) items << w.Combo1->itemData(i, Qt::UserRole + 1).toString();
        return items.join(" | ");
    };
    auto plug = [&](std::vector<PortInfo> devices) {
        plugged.devices = std::move(devices);
        w.Combo1->showPopup();  // opening the list looks again
        w.Combo1->hidePopup();
    };
    EXPECT_EQ(w.Combo1->itemText(0), "COM1") << "the entry's text is what port opening reads";
    EXPECT_EQ(listed(), "COM1 \u00B7 ttyUSB0 \u00B7 CP2102 USB to UART");

    plug({a, b});
    EXPECT_EQ(listed(), "COM1 \u00B7 ttyUSB0 \u00B7 CP2102 USB to UART | COM2 \u00B7 ttyUSB1 \u00B7 FT232R");
    w.Combo1->setCurrentIndex(1);
    EXPECT_EQ(w.Combo1->toolTip(), "COM2 is /dev/ttyUSB1 (new) \u00B7 FT232R");

    plug({a});
    EXPECT_EQ(listed(), "COM1 \u00B7 ttyUSB0 \u00B7 CP2102 USB to UART | COM2 \u00B7 ttyUSB1 \u00B7 gone") << "kept: it is the choice";
    EXPECT_TRUE(QRegularExpression("^COM2 is /dev/ttyUSB1 \\(gone: unplugged at \\d\\d:\\d\\d\\)").match(w.StatusLine->text()).hasMatch())
        << w.StatusLine->text().toStdString();

    plug({b_again});
    EXPECT_EQ(listed(), "COM2 \u00B7 ttyUSB3 \u00B7 FT232R") << "the same number under a new name; COM1 went";
    EXPECT_EQ(handed.entry(2)->device, "/dev/ttyUSB3");

    PortInfo c{"/dev/ttyUSB4", "CH340", "usb C", false};
    plug({b_again, c});
    EXPECT_EQ(listed(), "COM2 \u00B7 ttyUSB3 \u00B7 FT232R") << "a port this user may not open is not listed";
    EXPECT_TRUE(w.StatusLine->text().contains("COM3 (/dev/ttyUSB4) exists but you may not open it"))
        << w.StatusLine->text().toStdString();
    c.permitted = true;
    plug({b_again, c});
    EXPECT_EQ(listed(), "COM2 \u00B7 ttyUSB3 \u00B7 FT232R | COM3 \u00B7 ttyUSB4 \u00B7 CH340");
    EXPECT_FALSE(w.StatusLine->text().contains("may not open")) << w.StatusLine->text().toStdString();

    v.link.set_port(2, test::PortKind::Opens);
    w.Command1_Click();
    v.clock.at(1.0, [&] { plug({b_again, a}); });
    w.Command2_Click();
    ASSERT_EQ(w.last_result()->end, UploadEnd::Finished);
    EXPECT_EQ(listed(), "COM2 \u00B7 ttyUSB3 \u00B7 FT232R | COM3 \u00B7 ttyUSB4 \u00B7 CH340")
        << "nothing changes during an upload";
    plug({b_again, a});
    EXPECT_EQ(listed(), "COM1 \u00B7 ttyUSB0 \u00B7 CP2102 USB to UART | COM2 \u00B7 ttyUSB3 \u00B7 FT232R");
}

TEST(StatusLine, EachEndingLeavesItsOwnText) {
    const struct {
        sim::DeviceBehaviour behaviour;
        QString text;
    } rows[] = {
        {{}, "Sent 10000 bytes in 10 blocks at 10.0 kB/s"},
        {sim::DeviceBehaviour{.nak_block = 7, .nak_sends = 10}, "Gave up: the device refused block 7 ten times in a row"},
        {sim::DeviceBehaviour{.never_ack_eot = true}, "No answer to the end of transmission"},
        {sim::DeviceBehaviour{.cancel_at_block = 3}, "The device cancelled the transfer at block 3"},
        {sim::DeviceBehaviour{.reject_wakeups = true}, "The device rejected the transfer before the first block"},
    };
    for (const auto& r : rows) {
        VirtualWindow v(r.behaviour);
        QString under_the_box;
        v.messages.on_show = [&](const std::string&) { under_the_box = v.window.StatusLine->text(); };
        v.window.Command2_Click();
        EXPECT_EQ(v.window.StatusLine->text(), r.text);
        if (!v.messages.shown.empty()) {
            EXPECT_EQ(under_the_box, r.text) << "shown before the box opens";
        }
    }

    VirtualWindow empty;
    empty.files.put("fw.bin", {});
    empty.window.Command2_Click();
    EXPECT_EQ(empty.window.StatusLine->text(), "The file is empty");

    VirtualWindow missing;
    missing.dialog.next = "gone.bin";
    missing.window.Command1_Click();
    missing.window.Command2_Click();
    EXPECT_TRUE(missing.window.StatusLine->text().contains("the port stays open: choose another port and send, or empty"))
        << missing.window.StatusLine->text().toStdString();

    VirtualWindow invalid;
    invalid.window.Combo1->setEditText("COM0");
    std::vector<QString> under_boxes;
    invalid.messages.on_show = [&](const std::string&) { under_boxes.push_back(invalid.window.StatusLine->text()); };
    invalid.window.Command2_Click();
    EXPECT_EQ(under_boxes, std::vector<QString>(2, "The port choice names no port 1 to 9"));

    VirtualWindow lost;
    lost.clock.at(1.25, [&] { lost.link.vanish(); });
    lost.window.Command2_Click();
    EXPECT_EQ(lost.window.StatusLine->text(), "The device was disconnected during block 5 (the port went away)");
}

TEST(StatusLine, TheEndingStaysUntilTheFileOrThePortChanges) {
    VirtualWindow v;
    const QString ending = "Sent 10000 bytes in 10 blocks at 10.0 kB/s";
    v.window.Command2_Click();
    v.window.Combo1->setEditText("COM3");
    EXPECT_EQ(v.window.StatusLine->text(), "COM3 \u00B7 fw.bin: not found") << "a new port";

    v.window.Combo1->setEditText("COM1");
    v.window.Command2_Click();
    v.dialog.next.clear();
    v.window.Command1->click();  // cancelled
    v.window.Combo1->setEditText("COM1");
    EXPECT_EQ(v.window.StatusLine->text(), ending) << "nothing changed";

    v.dialog.next = "other.bin";
    v.window.Command1->click();
    EXPECT_EQ(v.window.StatusLine->text(), "COM1 \u00B7 other.bin: not found") << "a new file";
}

TEST(StatusLine, ShowsThePhasesAndBlocksInOrderAndRedrawsAtMostTenTimesASecond) {
    VirtualWindow v;
    std::vector<QString> seen;
    for (int i = 1; i < 60; ++i)
        v.clock.at(i * 0.05, [&] {
            const QString t = v.window.StatusLine->text();
            if (seen.empty() || seen.back() != t) seen.push_back(t);
        });
    v.window.Command2_Click();

    // Sampled every 50 ms: the second wake-up and the first block go out
    // at the same moment, so only the block is seen.
    std::vector<QString> expected_start{"Opening the port and loading the file", "Waking the device: try 1 of 101", "Block 1 of 10"};
    ASSERT_GE(seen.size(), 8u);
    EXPECT_EQ(std::vector<QString>(seen.begin(), seen.begin() + 3), expected_start);
    EXPECT_EQ(seen[3], "Block 2 of 10 \u00B7 10.2 kB/s \u00B7 0:01 left");
    EXPECT_TRUE(seen.back().startsWith("All blocks sent; ending the transfer") ||
                seen.back() == "Sent 10000 bytes in 10 blocks at 10.0 kB/s");
    const double seconds = v.clock.now();
    EXPECT_LE(v.window.findChild<QLabel*>("StatusLine")->text().size(), 200);
    EXPECT_LT(v.window.status_redraws(), 10 * seconds + 10) << "about ten redraws a second at most";
}

// The real thing: the window, its file dialog, the Qt link and real time
// against the simulated device on a pty, with the window's own message box.
// The dialog, opened again during the upload, leaves the upload its timing.
// VQ_WINDOW_PORT names a real port to send through instead, whose device
// the caller checks (the real-driver check does).
TEST(UploadWindow, ChooseAFileSendItAndSeeEveryPercentageAndSendingFinished) {
    const char* real_port = std::getenv("VQ_WINDOW_PORT");
    sim::PtyDevice device;
    if (!real_port) device.start();
    PosixSerialLink link(PortMap(std::vector<PortEntry>{{real_port ? real_port : device.path(), "the device"}}));
    EventClock clock;
    LocalFileSystem files;
    QtFileDialog dialog;
    test::TempDir dir;
    std::vector<std::uint8_t> image(3000);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i);
    const std::string file = dir.write("fw.bin", image);

    Form1 window({link, clock, files, dialog, nullptr, nullptr});
    dialog.set_window(&window);
    window.Form_Load();
    window.show();
    ASSERT_EQ(window.Combo1->currentText(), "COM1");
    auto open_dialog = [&] {
        for (auto* d : window.findChildren<QFileDialog*>())
            if (d->isVisible()) return d;
        return static_cast<QFileDialog*>(nullptr);
    };
    window.Command1->click();
    ASSERT_NE(open_dialog(), nullptr);
    open_dialog()->selectFile(QString::fromStdString(file));
    static_cast<QDialog*>(open_dialog())->accept();  // as its Open button does
    EXPECT_EQ(window.Text1->text().toStdString(), file);

    std::vector<QString> shown;
    QObject::connect(window.Text4, &QLineEdit::textChanged, [&](const QString& t) {
        if (t.endsWith('%')) shown.push_back(t);
    });
    QString box_text;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            box_text = box->text();
            EXPECT_EQ(box->windowTitle(), "Vellquin Tool");
            box->accept();
        }
    });
    poll.start(20);
    QTimer::singleShot(300, [&] { window.Command1->click(); });
    QTimer::singleShot(10000, [&] {  // ends the stall a blocking dialog would cause
        if (auto* d = open_dialog()) d->reject();
    });
    QElapsedTimer elapsed;
    elapsed.start();
    window.Command2->click();
    poll.stop();

    // Under a second; the bound holds on a loaded two-core machine, and in a QEMU guest.
    EXPECT_LT(elapsed.elapsed(), 8000) << "the upload went on while the dialog was open";
    ASSERT_NE(open_dialog(), nullptr) << "the dialog is still open after the upload";
    open_dialog()->reject();
    EXPECT_EQ(window.Text1->text().toStdString(), file) << "cancelled: the previous choice again";
    EXPECT_EQ(shown, (std::vector<QString>{"34%", "68%", "100%"}));
    EXPECT_EQ(box_text, "Sending Finished!");
    EXPECT_EQ(window.Text4->text(), " ");
    EXPECT_EQ(window.ProgressBar1->value(), 0);
    EXPECT_FALSE(link.PortOpen());
    if (real_port) return;
    ASSERT_EQ(device.images().size(), 1u);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), device.images()[0].begin()));
}

}  // namespace
}  // namespace vq
