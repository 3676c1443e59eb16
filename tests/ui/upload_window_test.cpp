// Uploads driven through the window.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include "link/event_clock.h"
#include "link/qt_serial_link.h"
#include "protocol/image_file.h"
#include "sim/pty_device.h"
#include "support/fake_link.h"
#include "support/recording_host.h"
#include "support/scripted_device.h"
#include "support/temp_file.h"
#include "support/virtual_clock.h"
#include "ui/form1.h"

namespace vq {
namespace {

class ChosenFile final : public FileDialog {
public:
    void ShowOpen() override { name = next; }
    std::string FileName() const override { return name; }
    std::string next, name;
};

// The window on the virtual clock, with a scripted device behind COM1.
struct VirtualWindow {
    explicit VirtualWindow(sim::DeviceBehaviour behaviour = {})
        : device(link, clock, behaviour), window({link, clock, files, dialog, &messages, nullptr}) {
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
    v.window.Command2_Click();
    EXPECT_EQ(v.link.openings() - probe_openings, 1);
    EXPECT_EQ(v.messages.shown, std::vector<std::string>{"Sending Finished!"});
    EXPECT_EQ(v.device.receiver.images().size(), 1u);
    EXPECT_FALSE(v.window.uploading());
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

// The real thing: the window, the Qt link and real time against the
// simulated device on a pty, with the window's own message box.
TEST(UploadWindow, ChooseAFileSendItAndSeeEveryPercentageAndSendingFinished) {
    sim::PtyDevice device;
    device.start();
    QtSerialLink link(PortMap(std::vector<PortEntry>{{device.path(), "simulated device"}}));
    EventClock clock;
    LocalFileSystem files;
    ChosenFile dialog;
    test::TempDir dir;
    std::vector<std::uint8_t> image(3000);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i);
    dialog.next = dir.write("fw.bin", image);

    Form1 window({link, clock, files, dialog, nullptr, nullptr});
    window.Form_Load();
    window.show();
    ASSERT_EQ(window.Combo1->currentText(), "COM1");
    window.Command1->click();
    EXPECT_EQ(window.Text1->text().toStdString(), dialog.next);

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
    window.Command2->click();
    poll.stop();

    EXPECT_EQ(shown, (std::vector<QString>{"34%", "68%", "100%"}));
    EXPECT_EQ(box_text, "Sending Finished!");
    EXPECT_EQ(window.Text4->text(), " ");
    EXPECT_EQ(window.ProgressBar1->value(), 0);
    EXPECT_FALSE(link.PortOpen());
    ASSERT_EQ(device.images().size(), 1u);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), device.images()[0].begin()));
}

}  // namespace
}  // namespace vq
