#pragma once
// Real time for the upload: a monotonic clock, and waiting inside a nested
// event loop so the window stays responsive without spinning a processor.

#include <QElapsedTimer>

#include "protocol/wait.h"

namespace vq {

class EventClock final : public Clock {
public:
    EventClock();
    double now() override;
    // Runs a nested event loop until a precise single-shot timer fires, or
    // until `until` holds each time the loop has handled what was pending;
    // a remainder under a millisecond is slept. Should the loop refuse to
    // run because the application is quitting, the thread sleeps instead of
    // returning at once.
    void process_events_for(double seconds, const std::function<bool()>& until) override;
    // A wait that `until` may end wakes as soon as the descriptor `fd`
    // gives (a serial link's; -1 for none) has something to read, instead
    // of when the next event comes.
    void wake_on(std::function<int()> fd) { wake_fd_ = std::move(fd); }

private:
    QElapsedTimer timer_;
    std::function<int()> wake_fd_;
};

}  // namespace vq
