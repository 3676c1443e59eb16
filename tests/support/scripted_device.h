#pragma once
// A device on the fake link and the virtual clock: it records every
// transmission with its virtual time and answers through a sim::Receiver
// (or a script), the answer arriving `latency` seconds later.

#include <array>
#include <functional>
#include <optional>
#include <vector>

#include "protocol/frame.h"
#include "sim/receiver.h"
#include "support/fake_link.h"
#include "support/virtual_clock.h"

namespace vq::test {

struct Sent {
    double time;
    std::array<std::uint8_t, kFrameSize> frame;
    std::uint8_t kind() const { return frame[0]; }
};

class ScriptedDevice {
public:
    ScriptedDevice(FakeLink& link, VirtualClock& clock, sim::DeviceBehaviour behaviour = {},
                   double latency = 0.001);

    // When set, decides the answer to transmission number `index` (0-based);
    // nullopt leaves it to the receiver.
    std::function<std::optional<std::vector<std::uint8_t>>(const Sent&, int index)> script;

    std::vector<Sent> sent;
    sim::Receiver receiver;
    double latency;

    std::vector<double> times_of(std::uint8_t kind) const;
    int count(std::uint8_t kind) const;
    // The data frames in order of sending.
    std::vector<const Sent*> data_frames() const;

private:
    FakeLink& link_;
    VirtualClock& clock_;
};

}  // namespace vq::test
