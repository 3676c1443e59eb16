#include "support/virtual_clock.h"

#include <cmath>

namespace vq::test {

void VirtualClock::process_events_for(double seconds, const std::function<bool()>& until) {
    ++waits_;
    // Whole nanoseconds, rounded up, and never less than one: a wait must
    // move time forward.
    const auto step = std::max<std::int64_t>(1, static_cast<std::int64_t>(std::ceil(seconds * 1e9)));
    if (ns_ + step > budget_ns_) throw TimeBudgetExceeded();
    run_until(ns_ + step, until);
}

void VirtualClock::at(double time, std::function<void()> action) {
    events_.emplace(static_cast<std::int64_t>(std::llround(time * 1e9)), std::move(action));
}

void VirtualClock::advance_to(double time) { run_until(static_cast<std::int64_t>(std::llround(time * 1e9))); }

void VirtualClock::run_until(std::int64_t target, const std::function<bool()>& until) {
    while (!events_.empty() && events_.begin()->first <= target) {
        auto node = events_.extract(events_.begin());
        ns_ = std::max(ns_, node.key());
        node.mapped()();
        if (until && until()) return;  // time stays where the event put it
    }
    ns_ = std::max(ns_, target);
}

}  // namespace vq::test
