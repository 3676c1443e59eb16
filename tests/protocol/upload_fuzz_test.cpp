// Uploads against devices that answer at random, late, in bursts or not at
// all, over links that fail at random moments. Every upload must end in one
// of its defined ways (or still be in one of the two loops that only a
// device or the user can end), send nothing but whole frames of the image,
// and leave no file or port behind.

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "protocol/crc16.h"
#include "protocol/failure.h"
#include "protocol/upload_rig.h"

namespace vq {
namespace {

using test::UploadRig;

struct Tally {
    int uploads = 0, failures_injected = 0, over_budget = 0, violations = 0;
    std::map<UploadEnd, int> ends;
};

class FuzzedUpload {
public:
    FuzzedUpload(std::mt19937_64& rng, Tally& tally) : rng_(rng), tally_(tally) {}

    void run() {
        UploadRig rig;
        rig.link.set_recording(false);
        rig.clock.set_budget(45.0);  // past the 101 wake-ups; only the two open loops outlast it
        rig.pace = coin(0.5) ? Pace::Reply : Pace::Fixed;
        image_ = test::random_image(pick_length(), static_cast<unsigned>(rng_()));
        const bool mutate_real_device = real_device_ = coin(0.5);
        // Replies may be lost, or also garbled. A garbled reply can turn a
        // NAK into an ACK and skip a block, which no sender can notice; a
        // lost one must never cost a byte of the image.
        lossy_only_ = coin(0.5);
        const double drop = uniform(0, 0.3), garble = lossy_only_ ? 0.0 : uniform(0, 0.2);
        nak_bias_ = coin(0.1) ? 0.9 : 0.0;

        rig.device.script = [&](const test::Sent& s, int) -> std::optional<std::vector<std::uint8_t>> {
            check_frame(s.frame);
            if (!mutate_real_device) return random_reply();
            std::vector<std::uint8_t> reply = rig.device.receiver.feed(s.frame);
            if (coin(drop)) return std::vector<std::uint8_t>{};
            if (coin(garble)) return random_reply();
            return reply;
        };
        rig.link.on_output = [&, inner = rig.link.on_output](std::span<const std::uint8_t> bytes) {
            if (bytes.size() != kFrameSize) violation("a transmission that is not one whole frame");
            rig.device.latency = uniform(0, 0.25);
            inner(bytes);
            rig.device.sent.clear();  // keep memory flat
        };
        if (coin(0.25)) inject_failure(rig);

        UploadResult result;
        try {
            result = rig.run(image_);
        } catch (const test::TimeBudgetExceeded&) {
            ++tally_.over_budget;
            const Phase last = rig.timeline.phases.empty() ? Phase::Starting : rig.timeline.phases.back().first;
            if (last != Phase::WaitingForStart && last != Phase::Sending)
                violation("ran out of time outside the loops without a limit");
            return;
        }
        ++tally_.ends[result.end];
        check_end(rig, result);
    }

private:
    std::size_t pick_length() {
        const double r = uniform(0, 1);
        if (r < 0.05) return 0;
        if (r < 0.7) return static_cast<std::size_t>(1 + rng_() % 5000);
        return static_cast<std::size_t>(1 + rng_() % 70000);
    }

    std::vector<std::uint8_t> random_reply() {
        static const std::uint8_t meaningful[] = {wire::START, wire::ACK, wire::ACK, wire::ACK, wire::NAK, wire::CAN};
        if (coin(nak_bias_)) return {wire::NAK};
        const double r = uniform(0, 1);
        if (r < 0.25) return {};
        if (r < 0.85) return {meaningful[rng_() % std::size(meaningful)]};
        std::vector<std::uint8_t> burst(1 + rng_() % 4);
        for (auto& b : burst) b = static_cast<std::uint8_t>(rng_());
        return burst;
    }

    void inject_failure(UploadRig& rig) {
        static const char* ops[] = {"Output", "Input", "InBufferCount", "OutBufferCount", "PortOpen?",
                                    "PortOpen=false", "Settings", "PortOpen=true"};
        static const int numbers[] = {err::ReadFailed, err::WriteFailed, err::PortAlreadyOpen, err::PermissionDenied,
                                      err::SubscriptOutOfRange, err::PathFileAccess};
        ++tally_.failures_injected;
        const std::string op = ops[rng_() % std::size(ops)];
        const int number = numbers[rng_() % std::size(numbers)];
        const bool vanish = coin(0.3);
        rig.clock.at(uniform(0, 6), [&rig, op, number, vanish] {
            if (vanish) rig.link.vanish();
            rig.link.fail(op, number, 1);
        });
    }

    // A data frame carries the block its number names, whole and checked.
    void check_frame(const std::array<std::uint8_t, kFrameSize>& f) {
        if (f[1029] != 0) violation("index 1029 is not zero");
        if (f[0] != wire::STX) return;
        if (f[2] != static_cast<std::uint8_t>(~f[1])) violation("bad complement");
        const std::size_t offset = (static_cast<std::size_t>(f[1]) + 255) % 256 * kBlockSize;
        if (offset >= image_.size()) return violation("a block past the end of the image");
        for (std::size_t j = 0; j < kBlockSize; ++j) {
            const std::uint8_t expected = offset + j < image_.size() ? image_[offset + j] : wire::FILL;
            if (f[3 + j] != expected) return violation("a block that is not the image");
        }
        std::vector<std::uint8_t> block(f.begin() + 3, f.begin() + 1027);
        block.push_back(0);
        const auto crc = CRC16(block);
        if (crc[0] != f[1027] || crc[1] != f[1028]) violation("bad CRC");
    }

    void check_end(UploadRig& rig, const UploadResult& r) {
        static const std::set<std::string> texts{"Invalid Serial Port", "Serial port is invalid!",
                                                 "Serial port is using!", "Sending Request is Rejected",
                                                 "Sending Cancelled!", "Sending Finished!", "File Not Exisits!"};
        for (const auto& m : rig.messages.shown)
            if (!texts.count(m)) violation("unknown message " + m);
        if (rig.messages.shown.size() > 1 && r.end != UploadEnd::InvalidPort) violation("more than one message");
        if (rig.files.open_files() != 0) violation("the image file was left open");
        const bool keeps_port = r.end == UploadEnd::FileNotFound;
        if (!keeps_port && !r.cleanup_failed && rig.link.open()) violation("the port was left open");
        const bool skipped_cleanup = r.end == UploadEnd::FileNotFound || r.end == UploadEnd::InvalidPort ||
                                     r.end == UploadEnd::PortUnavailable;
        if (!skipped_cleanup && (rig.displays.percent_text != " " || rig.displays.progress != 0.0f))
            violation("displays not cleared");
        if (r.end == UploadEnd::Finished && real_device_ && lossy_only_ && rig.received(image_.size()) != image_)
            violation("finished, but the device holds another image");
    }

    void violation(const std::string& what) {
        if (tally_.violations++ < 10) ADD_FAILURE() << "upload " << tally_.uploads << ": " << what;
    }
    bool coin(double p) { return uniform(0, 1) < p; }
    double uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng_); }

    std::mt19937_64& rng_;
    Tally& tally_;
    std::vector<std::uint8_t> image_;
    bool real_device_ = false;
    bool lossy_only_ = false;
    double nak_bias_ = 0;
};

#ifndef VQ_FUZZ_UPLOADS
#define VQ_FUZZ_UPLOADS 20000
#endif

TEST(UploadFuzz, ThousandsOfUploadsAgainstHostileDevicesKeepEveryInvariant) {
    std::mt19937_64 rng(20261208);
    Tally tally;
    for (tally.uploads = 0; tally.uploads < VQ_FUZZ_UPLOADS; ++tally.uploads) FuzzedUpload(rng, tally).run();

    EXPECT_EQ(tally.violations, 0);
    RecordProperty("uploads", tally.uploads);
    RecordProperty("failures_injected", tally.failures_injected);
    RecordProperty("over_budget", tally.over_budget);
    for (UploadEnd e : {UploadEnd::Finished, UploadEnd::CancelledByDevice, UploadEnd::NakLimit, UploadEnd::Failed})
        EXPECT_GT(tally.ends[e], 0) << "the corpus never reached: " << to_string(e);
    std::string summary;
    for (auto [end, count] : tally.ends) summary += std::string(to_string(end)) + "=" + std::to_string(count) + "; ";
    RecordProperty("ends", summary);
}

}  // namespace
}  // namespace vq
