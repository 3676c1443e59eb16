#include <poll.h>

#include <cerrno>
#include <cmath>

#ifdef __linux__
#include <sys/prctl.h>
#endif

#include "link/plain_clock.h"

namespace vq {

void PlainClock::process_events_for(double seconds, const std::function<bool()>& until) {
#ifdef __linux__
    // Sleeps of the waiting thread end when asked, not up to 50 microseconds
    // later. The setting is the thread's own.
    static thread_local const bool precise = ::prctl(PR_SET_TIMERSLACK, 1UL) == 0;
    (void)precise;
#endif
    run_posted();
    double end = now() + seconds;
    if (alarm_at_) end = std::min(end, *alarm_at_);
    // The system lets a poll of t end up to t/1000 late: a long wait sleeps
    // to a millisecond before its end first, and the rest in a short poll.
    double left = std::max(0.0, end - now());
    if (left > 0.002) left -= 0.001;
    pollfd fds[2] = {{posted_pipe_.handle(), POLLIN, 0}, {until && wake_fd_ ? wake_fd_() : -1, POLLIN, 0}};
    const WatchThen then = watch_then(fds[1].fd >= 0 && ::poll(&fds[1], 1, 0) > 0, until);
    if (then == WatchThen::ReturnNow) return;
    if (then == WatchThen::SleepUnwatched) fds[1].fd = -1;
    const timespec timeout{static_cast<time_t>(left), static_cast<long>(std::fmod(left, 1.0) * 1e9)};
    if (::ppoll(fds, 2, &timeout, nullptr) > 0 && fds[0].revents) posted_pipe_.drain();
    run_posted();
}

}  // namespace vq
