#include <windows.h>

#include <cmath>

#include "link/plain_clock.h"

namespace vq {

void PlainClock::process_events_for(double seconds, const std::function<bool()>& until) {
    // Waits end on the millisecond asked for, not on the next 15.6 ms tick.
    static const bool precise = timeBeginPeriod(1) == TIMERR_NOERROR;
    (void)precise;
    run_posted();
    double end = now() + seconds;
    if (alarm_at_) end = std::min(end, *alarm_at_);
    const double left = std::max(0.0, end - now());
    HANDLE handles[2] = {posted_pipe_.handle(), until && wake_fd_ ? wake_fd_() : nullptr};
    DWORD count = handles[1] ? 2 : 1;
    const WatchThen then = watch_then(handles[1] && WaitForSingleObject(handles[1], 0) == WAIT_OBJECT_0, until);
    if (then == WatchThen::ReturnNow) return;
    if (then == WatchThen::SleepUnwatched) count = 1;
    const auto ms = static_cast<DWORD>(std::ceil(left * 1000.0));
    WaitForMultipleObjects(count, handles, FALSE, ms);
    run_posted();
}

}  // namespace vq
