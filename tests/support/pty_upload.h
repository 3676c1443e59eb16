#pragma once
// A whole upload in real time: the system's link and the event clock against the
// simulated device on a pty.

#include <random>

#include "link/event_clock.h"
#include "link/port_opening.h"
#include "link/posix_serial_link.h"
#include "protocol/image_file.h"
#include "protocol/upload.h"
#include "sim/pty_device.h"
#include "support/recording_host.h"
#include "support/temp_file.h"

namespace vq::test {

inline std::vector<std::uint8_t> image_with_control_characters(std::size_t size) {
    std::vector<std::uint8_t> image(size);
    std::mt19937 rng(42);
    for (auto& b : image) b = static_cast<std::uint8_t>(rng());
    // Bytes a terminal would translate or swallow: LF, CR, XON, XOFF.
    for (std::size_t i = 0; i + 4 < size; i += 97) image[i] = 0x0A, image[i + 1] = 0x0D, image[i + 2] = 0x11, image[i + 3] = 0x13;
    return image;
}

struct PtyUpload {
    explicit PtyUpload(sim::DeviceBehaviour behaviour = {})
        : device(std::make_unique<sim::PtyDevice>(behaviour)),
          link(PortMap(std::vector<PortEntry>{{device->path(), ""}})) {
        clock.wake_on([this] { return link.handle(); });
        device->start();
    }
    // A new device in place of the old one, on the same link.
    void replace_device(sim::DeviceBehaviour behaviour = {}) {
        device = std::make_unique<sim::PtyDevice>(behaviour);
        link.setPorts(PortMap(std::vector<PortEntry>{{device->path(), ""}}));
        device->start();
    }
    UploadResult run(const std::string& file, Pace pace = Pace::Fixed) {
        messages.shown.clear();
        const UploadContext context{link,  clock, displays, messages, files, form,
                                    [this] { return init_serial_port("COM1", link, messages); }, nullptr, pace};
        return run_upload(context, file, file);
    }
    bool received(const std::vector<std::uint8_t>& image) const {
        const auto images = device->images();
        return !images.empty() && images.back().size() >= image.size() &&
               std::equal(image.begin(), image.end(), images.back().begin());
    }
    std::unique_ptr<sim::PtyDevice> device;
    PosixSerialLink link;
    EventClock clock;
    RecordingDisplays displays;
    RecordingMessages messages;
    LocalFileSystem files;
    FormState form;
    TempDir dir;
};

}  // namespace vq::test
