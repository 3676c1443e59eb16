#include "support/scripted_device.h"

#include <algorithm>

namespace vq::test {

ScriptedDevice::ScriptedDevice(FakeLink& link, VirtualClock& clock, sim::DeviceBehaviour behaviour, double lat)
    : receiver(behaviour), latency(lat), link_(link), clock_(clock) {
    link_.on_output = [this](std::span<const std::uint8_t> bytes) {
        Sent s{clock_.now(), {}};
        std::copy_n(bytes.begin(), std::min(bytes.size(), kFrameSize), s.frame.begin());
        sent.push_back(s);
        std::optional<std::vector<std::uint8_t>> reply;
        if (script) reply = script(sent.back(), static_cast<int>(sent.size()) - 1);
        if (!reply) reply = receiver.feed(bytes);
        if (!reply->empty())
            clock_.after(latency, [this, bytes = *reply] { link_.deliver(bytes); });
    };
}

std::vector<double> ScriptedDevice::times_of(std::uint8_t kind) const {
    std::vector<double> times;
    for (const Sent& s : sent)
        if (s.kind() == kind) times.push_back(s.time);
    return times;
}

int ScriptedDevice::count(std::uint8_t kind) const {
    return static_cast<int>(std::count_if(sent.begin(), sent.end(), [kind](const Sent& s) { return s.kind() == kind; }));
}

std::vector<const Sent*> ScriptedDevice::data_frames() const {
    std::vector<const Sent*> frames;
    for (const Sent& s : sent)
        if (s.kind() == wire::STX) frames.push_back(&s);
    return frames;
}

}  // namespace vq::test
