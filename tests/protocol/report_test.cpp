#include "protocol/report.h"

#include <gtest/gtest.h>

#include "protocol/failure.h"
#include "protocol/transfer_stats.h"
#include "protocol/upload_rig.h"

namespace vq {
namespace {

TEST(DescribeEnd, SaysHowEachUploadEndedInPlainWords) {
    auto at_block = [](UploadEnd end, int index) {
        UploadResult r;
        r.end = end;
        r.block_index = index;
        r.blocks_acknowledged = std::max(index, 0);  // every block before it
        return r;
    };
    UploadResult finished = at_block(UploadEnd::Finished, 19);
    finished.image_length = 20000;
    finished.blocks_total = 20;
    finished.seconds = 2.0;
    UploadResult empty = at_block(UploadEnd::Failed, -1);
    empty.file_empty = true;
    UploadResult lost = at_block(UploadEnd::Failed, 11);
    lost.error_number = err::ReadFailed;
    lost.error_text = "/dev/ttyUSB0: Input/output error";
    UploadResult gone = lost;
    gone.error_number = err::PortGone;
    gone.block_index = 35;
    UploadResult missing = at_block(UploadEnd::FileNotFound, -1);
    missing.error_text = "No such file: fw.bin";
    UploadResult shrank = at_block(UploadEnd::Failed, 2);
    shrank.error_number = err::InputPastEnd;
    shrank.error_text = "The file shrank while it was read: fw.bin";
    UploadResult huge = at_block(UploadEnd::Finished, 3145727);
    huge.image_length = std::int64_t{3} << 30;
    huge.blocks_total = 3145728;

    const struct { UploadResult result; std::string words; int exit; } rows[] = {
        {at_block(UploadEnd::NakLimit, 6), "Gave up: the device refused block 7 ten times in a row", 9},
        {at_block(UploadEnd::NakLimitNoAck, 0), "Gave up: the device refused block 1 ten times in a row", 9},
        {at_block(UploadEnd::NoEotAck, 3), "No answer to the end of transmission", 10},
        {empty, "The file is empty", 6},
        {lost, "The device was disconnected or the port failed during block 12: /dev/ttyUSB0: Input/output error", 1},
        {gone, "The device was disconnected during block 36 (the port went away)", 1},
        {shrank, "The file shrank while it was read: fw.bin", 1},
        {finished, "Sent 20000 bytes in 20 blocks at 10.0 kB/s", 0},
        {huge, "Sent 3221225472 bytes in 3145728 blocks", 0},
        {at_block(UploadEnd::CancelledByDevice, 1), "The device cancelled the transfer at block 2", 8},
        {at_block(UploadEnd::Rejected, -1), "The device rejected the transfer before the first block", 7},
        {at_block(UploadEnd::StoppedAcked, 23), "Stopped after block 23, the last the device acknowledged; it acknowledged the cancel", 11},
        {at_block(UploadEnd::StoppedNoAck, 0), "Stopped before the device acknowledged a block; it did not answer the cancel", 11},
        {at_block(UploadEnd::StoppedWaiting, -1), "Stopped before the device asked for the first block", 11},
        {missing, "No such file: fw.bin", 5},
        {at_block(UploadEnd::InvalidPort, -1), "The port choice names no port 1 to 9", 3},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(describe_end(r.result), r.words);
        EXPECT_EQ(exit_code_for(r.result), r.exit) << r.words;
    }
    EXPECT_EQ(describe_end(at_block(UploadEnd::PortUnavailable, -1), "COM2: held by another program"),
              "Could not open the port: COM2: held by another program");
    EXPECT_EQ(describe_size(std::int64_t{3} << 30), "3221225472 bytes, 3145728 blocks");
}

TEST(FormatDuration, RoundsUpToWholeSeconds) {
    EXPECT_EQ(format_duration(0), "0:00");
    EXPECT_EQ(format_duration(0.2), "0:01");
    EXPECT_EQ(format_duration(65), "1:05");
    EXPECT_EQ(format_duration(3725), "1:02:05");
}

TEST(TransferStats, SpeedAndTimeLeftFollowTheUploadsClock) {
    // 8 blocks, each acknowledged 0.1 s after it is sent: after k blocks the
    // speed is k * 1024 B over k * 0.1 s = 10240 B/s, and the 8 - k blocks
    // left take (8 - k) * 0.1 s.
    test::UploadRig rig;
    TransferStats stats;
    struct Seen {
        int acked;
        double rate, left;
    };
    std::vector<Seen> seen;
    struct Probe final : UploadObserver {
        TransferStats* stats;
        std::vector<Seen>* seen;
        void on_progress(int) override {
            if (auto rate = stats->bytes_per_second())
                seen->push_back({stats->blocks_acknowledged(), *rate, *stats->seconds_left()});
        }
    } probe;
    probe.stats = &stats;
    probe.seen = &seen;
    ObserverList both;
    both.add(&stats);
    both.add(&probe);
    rig.files.put("fw.bin", test::random_image(8 * 1024));
    const UploadContext context{rig.link, rig.clock, rig.displays, rig.messages, rig.files, rig.form,
                                [&] { return init_serial_port("COM1", rig.link, rig.messages); }, &both};
    ASSERT_EQ(run_upload(context, "fw.bin", "fw.bin").end, UploadEnd::Finished);

    ASSERT_EQ(seen.size(), 7u);
    for (const Seen& s : seen) {
        EXPECT_NEAR(s.rate, 10240.0, 1.0) << s.acked;
        EXPECT_NEAR(s.left, (8 - s.acked) * 0.1, 1e-3) << s.acked;
    }
    EXPECT_EQ(stats.blocks_acknowledged(), 8);
    EXPECT_EQ(stats.resends(), 0);
    EXPECT_EQ(stats.naks(), 0);
}

TEST(TransferStats, CountsResendsAndNaks) {
    sim::DeviceBehaviour b;
    b.nak_block = 2;
    b.nak_sends = 3;
    test::UploadRig rig(b);
    TransferStats stats;
    rig.files.put("fw.bin", test::random_image(3000));
    const UploadContext context{rig.link, rig.clock, rig.displays, rig.messages, rig.files, rig.form,
                                [&] { return init_serial_port("COM1", rig.link, rig.messages); }, &stats};
    ASSERT_EQ(run_upload(context, "fw.bin", "fw.bin").end, UploadEnd::Finished);
    EXPECT_EQ(stats.naks(), 3);
    EXPECT_EQ(stats.resends(), 3);
    EXPECT_EQ(stats.blocks_acknowledged(), 3);
}

// The phases that can last for ever say how to give up; refused wake-ups
// are counted, and the wake-ups go on.
TEST(DescribeProgress, SaysWhatTheDeviceDoesAndHowToGiveUpWhereAWaitHasNoEnd) {
    std::array<std::uint8_t, kFrameSize> frame{};
    TransferStats stats;
    stats.on_phase(Phase::WakingUp, 0);
    EXPECT_EQ(describe_progress(stats, "press Stop"), "Waking the device: try 1 of 101");
    for (int attempt = 0; attempt < 3; ++attempt) {
        stats.on_phase(Phase::WakingUp, attempt);
        stats.on_transmission(Transmission::WakeUp, frame, attempt);
        stats.on_reply(Reply{kCancel, {wire::CAN}}, attempt);
    }
    EXPECT_EQ(describe_progress(stats, "press Stop"),
              "Waking the device: try 3 of 101 \u00B7 it refused 3 wake-ups (CAN); the wake-ups go on, and a refusal "
              "after the last ends the upload \u00B7 press Stop");
    stats.on_phase(Phase::WaitingForStart, 0);
    EXPECT_EQ(describe_progress(stats, "press Stop"),
              "Waiting for the device to ask for the first block \u00B7 the device answered every wake-up with CAN: it "
              "refuses the upload \u00B7 press Stop");

    // A read that heard nothing, then an answer: it may be the late one.
    stats.on_phase(Phase::Sending, 0);
    stats.on_block(0, 2, 1);
    for (const Reply& r : {Reply{kNoAnswer, std::nullopt}, Reply{kAck, wire::ACK}}) {
        stats.on_transmission(Transmission::Data, frame, 1);
        stats.on_reply(r, 1.1);
    }
    EXPECT_NE(describe_progress(stats).find("answers come later than the wait"), std::string::npos);
}

}  // namespace
}  // namespace vq
