#pragma once
// Time for the upload: a monotonic clock together with the event pump that
// keeps the window alive while the upload waits.

#include <cstdint>
#include <functional>

namespace vq {

class Clock {
public:
    virtual ~Clock() = default;
    // Seconds on a monotonic clock (any origin).
    virtual double now() = 0;
    // Processes events (clicks, painting, received bytes) for at most about
    // `seconds`, without spinning; may return earlier. Time must advance.
    // When `until` is given, returns as soon as it holds after events were
    // processed: a byte has arrived, say.
    virtual void process_events_for(double seconds, const std::function<bool()>& until) = 0;
};

// Returns once strictly more than `seconds` have passed on the clock,
// processing events meanwhile, or as soon as `until` (when given) holds.
// Should the clock ever step backwards, the wait counts again from that
// point, so it always ends.
void wait_seconds(float seconds, Clock& clock, const std::function<bool()>& until = {});

// A pause for a wait outside the upload's own (the link's, while written
// bytes leave): processes events for about `ms` and says whether the user
// has asked to stop by then (`stop_request` set). The request stays for
// the upload to take.
std::function<bool(long ms)> pause_heeding(Clock& clock, const std::int16_t& stop_request);

}  // namespace vq
