// libFuzzer target: the input is an image length and a stream of device
// replies, each with a delay. The upload must end in one of its ways (or
// still be in a loop without a limit when the time budget runs out) and send
// only whole frames of the image; the sanitizers catch the rest.

#include <cstdlib>

#include "protocol/upload_rig.h"

namespace {

struct Input {
    const std::uint8_t* data;
    std::size_t size;
    std::uint8_t next() {
        if (size == 0) return 0;
        --size;
        return *data++;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vq;
    Input in{data, size};
    const std::size_t length = (static_cast<std::size_t>(in.next()) << 8 | in.next()) % 70001;
    test::UploadRig rig;
    rig.link.set_recording(false);
    rig.clock.set_budget(45.0);
    rig.device.script = [&](const test::Sent&, int) -> std::optional<std::vector<std::uint8_t>> {
        rig.device.latency = in.next() / 1000.0;  // 0..0.255 s
        const std::uint8_t count = in.next() % 4;  // 0: silence, else a burst
        std::vector<std::uint8_t> reply;
        for (int i = 0; i < count; ++i) reply.push_back(in.next());
        return reply;
    };
    rig.link.on_output = [&, inner = rig.link.on_output](std::span<const std::uint8_t> bytes) {
        if (bytes.size() != kFrameSize) std::abort();
        inner(bytes);
        rig.device.sent.clear();
    };
    try {
        const UploadResult r = rig.run(test::random_image(length, length));
        if (rig.files.open_files() != 0) std::abort();
        if (r.end != UploadEnd::FileNotFound && !r.cleanup_failed && rig.link.open()) std::abort();
    } catch (const test::TimeBudgetExceeded&) {
        const Phase last = rig.timeline.phases.empty() ? Phase::Starting : rig.timeline.phases.back().first;
        if (last != Phase::WaitingForStart && last != Phase::Sending) std::abort();
    }
    return 0;
}
