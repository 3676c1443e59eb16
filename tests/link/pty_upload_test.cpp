// Whole uploads in real time: the Qt link and the event clock against the
// simulated device on a pty. Kept few and short.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>

#include "link/event_clock.h"
#include "link/port_opening.h"
#include "link/qt_serial_link.h"
#include "protocol/image_file.h"
#include "protocol/upload.h"
#include "sim/pty_device.h"
#include "support/cpu_time.h"
#include "support/recording_host.h"
#include "support/temp_file.h"

namespace vq {
namespace {

std::vector<std::uint8_t> image_with_control_characters(std::size_t size) {
    std::vector<std::uint8_t> image(size);
    std::mt19937 rng(42);
    for (auto& b : image) b = static_cast<std::uint8_t>(rng());
    // Bytes a terminal would translate or swallow: LF, CR, XON, XOFF.
    for (std::size_t i = 0; i + 4 < size; i += 97) {
        image[i] = 0x0A, image[i + 1] = 0x0D, image[i + 2] = 0x11, image[i + 3] = 0x13;
    }
    return image;
}

struct PtyUpload {
    explicit PtyUpload(sim::DeviceBehaviour behaviour = {}) : device(behaviour), link(PortMap(std::vector<PortEntry>{{device.path(), ""}})) {
        device.start();
    }
    UploadResult run(const std::string& file) {
        const UploadContext context{link,  clock, displays, messages, files, form,
                                    [this] { return init_serial_port("COM1", link, messages); }};
        return run_upload(context, file, file);
    }
    sim::PtyDevice device;
    QtSerialLink link;
    EventClock clock;
    test::RecordingDisplays displays;
    test::RecordingMessages messages;
    LocalFileSystem files;
    FormState form;
    test::TempDir dir;
};

TEST(PtyUpload, DeliversAnImageWithLineControlBytesIntact) {
    PtyUpload u;
    const auto image = image_with_control_characters(5000);
    const std::string file = u.dir.write("fw.bin", image);

    QElapsedTimer wall;
    wall.start();
    const double cpu = test::process_cpu_seconds();
    const UploadResult result = u.run(file);
    const double seconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    const double cpu_used = test::process_cpu_seconds() - cpu;

    EXPECT_EQ(result.end, UploadEnd::Finished);
    EXPECT_EQ(u.messages.shown, std::vector<std::string>{"Sending Finished!"});
    const auto images = u.device.images();
    ASSERT_EQ(images.size(), 1u);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), images[0].begin()));
    EXPECT_EQ(u.displays.percentages(), (std::vector<std::string>{"20%", "40%", "61%", "81%", "100%"}));
    EXPECT_FALSE(u.link.PortOpen());

    // The floor: 0.5 s, one or two wake-ups (0.3 s pause), five frames and
    // one end of transmission at 0.1 s each.
    const int wakes = u.device.count(sim::Event::WakeUp);
    const double floor = 0.5 + 0.3 * (wakes - 1) + 0.1 * 5 + 0.1;
    RecordProperty("wall_seconds", std::to_string(seconds));
    RecordProperty("floor_seconds", std::to_string(floor));
    EXPECT_GT(seconds, floor);
    EXPECT_LT(seconds, floor + 0.25);
    EXPECT_LT(cpu_used / seconds, 0.2) << "waiting must not spin";
}

TEST(PtyUpload, ADeviceThatVanishesEndsTheUploadWithinASecondAndReleasesThePort) {
    PtyUpload u;
    const std::string file = u.dir.write("fw.bin", image_with_control_characters(60000));
    QElapsedTimer wall;
    wall.start();
    qint64 vanished_at = 0;
    QTimer::singleShot(1500, [&] {
        vanished_at = wall.elapsed();
        u.device.hang_up();
    });
    const double cpu = test::process_cpu_seconds();
    const UploadResult result = u.run(file);
    const qint64 ended_at = wall.elapsed();

    EXPECT_EQ(result.end, UploadEnd::Failed) << result.error_text;
    EXPECT_TRUE(u.messages.shown.empty());
    EXPECT_FALSE(u.link.PortOpen());
    EXPECT_EQ(u.displays.percent_text, " ");
    ASSERT_GT(vanished_at, 0);
    EXPECT_LT(ended_at - vanished_at, 1000);
    RecordProperty("ms_to_end_after_unplug", std::to_string(ended_at - vanished_at));
    EXPECT_LT(test::process_cpu_seconds() - cpu, 0.3);
}

}  // namespace
}  // namespace vq
