// Real faults over a pty with the real link: unplugs, a held port, chatty
// and slow devices, files that change, and many uploads in one process.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "protocol/frame.h"
#include "support/cpu_time.h"
#include "support/pty_upload.h"

namespace vq {
namespace {

using test::PtyUpload;

TEST(PtyFaults, AnUnplugInEveryPhaseEndsTheUploadWithinASecondAndTheNextUploadWorks) {
    const struct {
        const char* phase;
        sim::DeviceBehaviour behaviour;
        std::size_t image_size;
        int unplug_ms;
    } rows[] = {
        {"wake-up", sim::DeviceBehaviour{.never_start = true}, 3000, 1200},
        {"blocks", {}, 60000, 1500},
        {"end of transmission", sim::DeviceBehaviour{.never_ack_eot = true}, 1000, 1150},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.phase);
        PtyUpload u(r.behaviour);
        const std::string file = u.dir.write("fw.bin", test::image_with_control_characters(r.image_size));
        QElapsedTimer wall;
        wall.start();
        qint64 unplugged_at = 0;
        QTimer::singleShot(r.unplug_ms, [&] {
            unplugged_at = wall.elapsed();
            u.device->hang_up();
        });
        const UploadResult result = u.run(file);
        const qint64 took = wall.elapsed() - unplugged_at;

        EXPECT_EQ(result.end, UploadEnd::Failed) << result.error_text;
        ASSERT_GT(unplugged_at, 0);
        EXPECT_LT(took, 1000);
        RecordProperty(std::string("ms_to_end_after_unplug_") + r.phase, std::to_string(took));
        EXPECT_FALSE(u.link.PortOpen());
        EXPECT_EQ(u.displays.percent_text, " ");

        const double cpu = test::process_cpu_seconds();
        QEventLoop idle;  // 300 ms of events, as the upload's own waits run them
        QTimer::singleShot(300, &idle, &QEventLoop::quit);
        idle.exec();
        EXPECT_LT(test::process_cpu_seconds() - cpu, 0.05) << "no error loop spins after the unplug";

        u.replace_device();
        const auto image = test::image_with_control_characters(2000);
        EXPECT_EQ(u.run(u.dir.write("next.bin", image)).end, UploadEnd::Finished);
        EXPECT_TRUE(u.received(image));
    }
}

TEST(PtyFaults, APortHeldByAnotherProgramIsReportedAndTheHolderIsUntouched) {
    PtyUpload u;
    PosixSerialLink holder(PortMap(std::vector<PortEntry>{{u.device->path(), ""}}));
    ASSERT_EQ(init_serial_port("COM1", holder, u.messages), kPortReady);
    const std::string file = u.dir.write("fw.bin", std::vector<std::uint8_t>(500, 1));

    EXPECT_EQ(u.run(file).end, UploadEnd::PortUnavailable);
    EXPECT_EQ(u.messages.shown, std::vector<std::string>{"Serial port is using!"});
    EXPECT_TRUE(holder.PortOpen());
    std::vector<std::uint8_t> wake(kFrameSize, 0);
    wake[0] = wire::WAKE;
    holder.Output(wake);
    QElapsedTimer t;
    t.start();
    while (u.device->count(sim::Event::WakeUp) == 0 && t.elapsed() < 1000) QThread::msleep(10);
    EXPECT_EQ(u.device->count(sim::Event::WakeUp), 1) << "the holder still talks to the device";
}

TEST(PtyFaults, ChattyAndSlowDevicesStillReceiveTheWholeImage) {
    const auto image = test::image_with_control_characters(4000);
    {
        SCOPED_TRACE("every reply followed by NAK, CAN and 'C'");
        PtyUpload u;
        u.device->set_trailing_bytes({wire::NAK, wire::CAN, wire::START});
        EXPECT_EQ(u.run(u.dir.write("fw.bin", image)).end, UploadEnd::Finished);
        EXPECT_TRUE(u.received(image));
    }
    {
        SCOPED_TRACE("every reply 150 ms late, after the 0.1 s window");
        PtyUpload u;
        u.device->set_reply_delay(std::chrono::milliseconds(150));
        EXPECT_EQ(u.run(u.dir.write("fw.bin", image)).end, UploadEnd::Finished);
        EXPECT_TRUE(u.received(image));
        EXPECT_GT(u.device->count(sim::Event::RepeatedBlock), 0) << "it went through the resend path";
    }
}

TEST(PtyFaults, AFileThatChangesDuringTheUploadIsSentAsLoadedOrNotAtAll) {
    const auto image = test::image_with_control_characters(8000);
    const struct {
        const char* change;
        std::function<void(const std::string&)> act;
        UploadEnd end;
    } rows[] = {
        {"shrinks", [](const std::string& f) { std::filesystem::resize_file(f, 3000); }, UploadEnd::Failed},
        {"grows", [](const std::string& f) { std::ofstream(f, std::ios::app) << std::string(5000, 'x'); },
         UploadEnd::Failed},
        {"is deleted", [](const std::string& f) { std::filesystem::remove(f); }, UploadEnd::Finished},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.change);
        PtyUpload u;
        const std::string file = u.dir.write("fw.bin", image);
        QTimer::singleShot(1100, [&] { r.act(file); });
        EXPECT_EQ(u.run(file).end, r.end);
        if (r.end == UploadEnd::Finished) {
            EXPECT_TRUE(u.received(image));
        }
        EXPECT_FALSE(u.link.PortOpen());
    }
}

std::size_t open_descriptors() {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                                  std::filesystem::directory_iterator()));
}

TEST(PtyFaults, TwentyUploadsInARowLeakNoFileOrPort) {
    PtyUpload u;
    const std::string good = u.dir.write("fw.bin", std::vector<std::uint8_t>(900, 7));
    const std::string missing = u.dir.file("missing.bin");
    PosixSerialLink holder(PortMap(std::vector<PortEntry>{{u.device->path(), ""}}));
    const std::size_t before = open_descriptors();
    for (int i = 0; i < 20; ++i) {
        switch (i % 4) {
        case 0: EXPECT_EQ(u.run(good).end, UploadEnd::Finished); break;
        case 1: EXPECT_EQ(u.run(missing).end, UploadEnd::FileNotFound); break;
        case 2:
            u.link.setPortOpen(false);  // "File Not Exisits!" leaves it open
            holder.setCommPort(1);
            holder.setPortOpen(true);
            EXPECT_EQ(u.run(good).end, UploadEnd::PortUnavailable);
            holder.setPortOpen(false);
            break;
        case 3: EXPECT_EQ(u.run(u.dir.file("empty.bin")).end, UploadEnd::FileNotFound); break;
        }
    }
    u.link.setPortOpen(false);
    const std::size_t after = open_descriptors();
    RecordProperty("fds_before", std::to_string(before));
    RecordProperty("fds_after", std::to_string(after));
    EXPECT_EQ(after, before);
}

}  // namespace
}  // namespace vq
