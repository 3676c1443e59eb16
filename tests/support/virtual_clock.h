#pragma once
// A clock for tests: time moves only when the code under test waits, and
// advancing it runs whatever was scheduled in between (a device's reply, a
// click), in time order. Nothing sleeps.

#include <cstdint>
#include <functional>
#include <map>
#include <stdexcept>

#include "protocol/wait.h"

namespace vq::test {

// Thrown when a test's time budget runs out: the code under test was still
// waiting (for a device that never answers, say).
struct TimeBudgetExceeded : std::runtime_error {
    TimeBudgetExceeded() : std::runtime_error("virtual time budget exceeded") {}
};

class VirtualClock final : public Clock {
public:
    double now() override { return static_cast<double>(ns_) / 1e9; }
    void process_events_for(double seconds, const std::function<bool()>& until) override;

    // Runs `action` when time reaches `time` (seconds).
    void at(double time, std::function<void()> action);
    void after(double delay, std::function<void()> action) { at(now() + delay, std::move(action)); }
    // Moves time to `time`, running what falls due on the way.
    void advance_to(double time);
    // Every wait past this point throws TimeBudgetExceeded.
    void set_budget(double seconds) { budget_ns_ = static_cast<std::int64_t>(seconds * 1e9); }
    // Steps time backwards, as a badly behaved clock would.
    void jump_back(double seconds) { ns_ -= static_cast<std::int64_t>(seconds * 1e9); }
    int waits() const { return waits_; }

private:
    void run_until(std::int64_t target, const std::function<bool()>& until = {});
    std::int64_t ns_ = 0;
    std::int64_t budget_ns_ = INT64_MAX;
    std::multimap<std::int64_t, std::function<void()>> events_;
    int waits_ = 0;
};

}  // namespace vq::test
