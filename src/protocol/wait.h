#pragma once
// Time for the upload: a monotonic clock together with the event pump that
// keeps the window alive while the upload waits.

namespace vq {

class Clock {
public:
    virtual ~Clock() = default;
    // Seconds on a monotonic clock (any origin).
    virtual double now() = 0;
    // Processes events (clicks, painting, received bytes) for at most about
    // `seconds`, without spinning; may return earlier. Time must advance.
    virtual void process_events_for(double seconds) = 0;
};

// Returns once strictly more than `seconds` have passed on the clock,
// processing events meanwhile. Should the clock ever step backwards, the wait
// counts again from that point, so it always ends.
void wait_seconds(float seconds, Clock& clock);

}  // namespace vq
