#pragma once
// Real time for the command line, without an event loop: a monotonic clock
// whose waits sleep in the system's wait (poll on Unix,
// WaitForMultipleObjects on Windows). A wait that `until` may end wakes as
// soon as the link has something to read, never later than its end. Other threads hand the clock's thread work through post(); it
// runs in that thread's next wait, or at once when the thread is waiting,
// in the order given. One alarm can be set.

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "link/wake_pipe.h"
#include "protocol/wait.h"

namespace vq {

class PlainClock final : public Clock {
public:
    PlainClock() = default;
    PlainClock(const PlainClock&) = delete;
    PlainClock& operator=(const PlainClock&) = delete;

    double now() override;
    void process_events_for(double seconds, const std::function<bool()>& until) override;
    // What to watch while a wait may end early: a descriptor that turns
    // readable, or an event that is signalled, once a byte waits; asked
    // anew before each sleep. kNoWaitHandle: none.
    void wake_on(std::function<WaitHandle()> source) { wake_fd_ = std::move(source); }

    // From any thread: runs `task` in the clock's thread.
    void post(std::function<void()> task);
    // In the clock's thread: runs what was posted, and the alarm when due.
    void run_posted();
    // `task` runs in the clock's thread once now() has passed `time`; it
    // replaces any alarm set before. clear_alarm() takes it back.
    void set_alarm(double time, std::function<void()> task);
    void clear_alarm();

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    WakePipe posted_pipe_;
    std::mutex mutex_;
    std::vector<std::function<void()>> posted_;
    std::atomic<bool> posted_any_{false};
    std::function<WaitHandle()> wake_fd_;
    std::optional<double> alarm_at_;
    std::function<void()> alarm_;
};

}  // namespace vq
