#pragma once
// Real time for the upload: a monotonic clock, and waiting inside a nested
// event loop so the window stays responsive without spinning a processor.

#include <QElapsedTimer>

#include "protocol/wait.h"

namespace vq {

class EventClock final : public Clock {
public:
    EventClock() { timer_.start(); }
    double now() override;
    // Runs a nested event loop until a precise single-shot timer fires; a
    // remainder under a millisecond is slept. Should the loop refuse to run
    // because the application is quitting, the thread sleeps instead of
    // returning at once.
    void process_events_for(double seconds) override;

private:
    QElapsedTimer timer_;
};

}  // namespace vq
