#pragma once
// Everything one upload needs, faked: the link with a scripted device
// behind it, the virtual clock, the displays, the message box and the files.

#include <random>
#include <string>
#include <vector>

#include "link/port_opening.h"
#include "protocol/upload.h"
#include "support/fake_link.h"
#include "support/recording_host.h"
#include "support/scripted_device.h"
#include "support/virtual_clock.h"

namespace vq::test {

// Hears the upload: every transmission and reply with its virtual time.
struct Timeline final : UploadObserver {
    struct Read {
        double time;
        std::int16_t code;
    };
    void on_phase(Phase p, int attempt) override { phases.emplace_back(p, attempt); }
    void on_block(std::int32_t index, std::int32_t, std::uint8_t) override { builds.push_back(index); }
    void on_reply(const Reply& r, double time) override { reads.push_back({time, r.code}); }
    void on_pacing(Pace, const std::string& why) override { pacing.push_back(why); }
    std::vector<std::pair<Phase, int>> phases;
    std::vector<std::string> pacing;
    std::vector<std::int32_t> builds;
    std::vector<Read> reads;
};

inline std::vector<std::uint8_t> random_image(std::size_t size, unsigned seed = 1) {
    std::vector<std::uint8_t> image(size);
    std::mt19937 rng(seed);
    for (auto& b : image) b = static_cast<std::uint8_t>(rng());
    return image;
}

struct UploadRig {
    explicit UploadRig(sim::DeviceBehaviour behaviour = {}) : device(link, clock, behaviour) {
        link.set_port(1, PortKind::Opens);
        clock.set_budget(3600);
    }

    UploadResult run(const std::vector<std::uint8_t>& image) {
        files.put("fw.bin", image);
        return run_named("fw.bin", "fw.bin");
    }

    UploadResult run_named(const std::string& path_text, const std::string& file_name) {
        const UploadContext context{link,  clock, displays, messages, files, form,
                                    [this] { return init_serial_port(port_choice, link, messages); },
                                    &timeline, pace};
        return run_upload(context, path_text, file_name);
    }

    // The image the device holds after the upload, without the fill.
    std::vector<std::uint8_t> received(std::size_t size) const {
        if (device.receiver.images().empty()) return {};
        const auto& got = device.receiver.images().back();
        return {got.begin(), got.begin() + static_cast<std::ptrdiff_t>(std::min(size, got.size()))};
    }

    FakeLink link;
    VirtualClock clock;
    RecordingDisplays displays;
    RecordingMessages messages;
    MemoryFiles files;
    FormState form;
    ScriptedDevice device;
    Timeline timeline;
    std::string port_choice = "COM1";
    Pace pace = Pace::Fixed;
};

}  // namespace vq::test
