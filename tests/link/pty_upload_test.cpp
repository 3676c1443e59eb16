// Whole uploads in real time: the Qt link and the event clock against the
// simulated device on a pty. Kept few and short.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>

#include "support/cpu_time.h"
#include "support/pty_upload.h"

namespace vq {
namespace {

using test::image_with_control_characters;
using test::PtyUpload;

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
    const auto images = u.device->images();
    ASSERT_EQ(images.size(), 1u);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), images[0].begin()));
    EXPECT_EQ(u.displays.percentages(), (std::vector<std::string>{"20%", "40%", "61%", "81%", "100%"}));
    EXPECT_FALSE(u.link.PortOpen());

    // The floor: 0.5 s, one or two wake-ups (0.3 s pause), five frames and
    // one end of transmission at 0.1 s each.
    const int wakes = u.device->count(sim::Event::WakeUp);
    const double floor = 0.5 + 0.3 * (wakes - 1) + 0.1 * 5 + 0.1;
    RecordProperty("wall_seconds", std::to_string(seconds));
    RecordProperty("floor_seconds", std::to_string(floor));
    EXPECT_GT(seconds, floor);
    EXPECT_LT(seconds, floor + 0.4) << "the tool adds well under a millisecond per frame; this allows for a loaded machine";
    EXPECT_LT(cpu_used / seconds, 0.2) << "waiting must not spin";
}

TEST(PtyUpload, PacedByRepliesA64KiBImageArrivesByteForByteInLittleMoreThanTheFirstPause) {
    PtyUpload u;
    const auto image = image_with_control_characters(64 * 1024);
    QElapsedTimer wall;
    wall.start();
    const UploadResult result = u.run(u.dir.write("fw.bin", image), Pace::Reply);
    EXPECT_EQ(result.end, UploadEnd::Finished);
    EXPECT_EQ(result.pace, Pace::Reply) << "no answer was missed";
    EXPECT_TRUE(u.received(image));
    EXPECT_LT(wall.elapsed(), 2000) << "64 blocks in well under 0.1 s each; fixed pacing takes 7 s";
}

}  // namespace
}  // namespace vq
