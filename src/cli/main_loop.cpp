#include "cli/main_loop.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <poll.h>
#endif

#include <chrono>

namespace vq::cli {
namespace {

struct Woken {
    bool first = false, second = false;
};

// A port's thread has news at every block; the outputs take it at most
// this often, so that the main thread wakes 50 times a second, not at every
// answer of the device. The interrupts are heard at once all the same.
constexpr auto kNewsGap = std::chrono::milliseconds(20);

// Sleeps until `first` or `second` is readable (signalled), for `ms` at most;
// -1: without an end. kNoWaitHandle stands for nothing to watch.
Woken sleep_on(WaitHandle first, WaitHandle second, int ms) {
#ifdef _WIN32
    HANDLE handles[2];
    DWORD n = 0;
    for (HANDLE h : {first, second})
        if (h) handles[n++] = h;
    const DWORD timeout = ms < 0 ? INFINITE : static_cast<DWORD>(ms);
    if (n == 0) {
        Sleep(timeout);
        return {};
    }
    const DWORD got = WaitForMultipleObjects(n, handles, FALSE, timeout);
    if (got < WAIT_OBJECT_0 || got >= WAIT_OBJECT_0 + n) return {};
    const HANDLE ready = handles[got - WAIT_OBJECT_0];
    return {ready == first, ready == second};
#else
    pollfd fds[2] = {{first, POLLIN, 0}, {second, POLLIN, 0}};
    if (::poll(fds, 2, ms) <= 0) return {};
    return {fds[0].revents != 0, fds[1].revents != 0};
#endif
}

}  // namespace

bool MainLoop::run(const std::function<bool()>& done, const Hooks& hooks, std::optional<double> seconds) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto next_tenth = start + std::chrono::milliseconds(100);
    std::optional<Clock::time_point> news_taken;
    bool rested = false;  // the last sleep was only the rest after news: no wake
    for (;;) {
        if (hooks.on_wake && !rested) hooks.on_wake();
        if (done()) return true;
        const auto now = Clock::now();
        if (seconds && now - start >= std::chrono::duration<double>(*seconds)) return false;
        if (hooks.every_tenth && now >= next_tenth) {
            hooks.every_tenth();
            next_tenth = now + std::chrono::milliseconds(100);
        }
        // Without a tick or an end, the loop sleeps until something happens.
        std::optional<Clock::time_point> until;
        if (hooks.every_tenth) until = next_tenth;
        if (seconds) {
            const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(*seconds));
            until = until ? std::min(*until, end) : end;
        }
        const bool resting = news_taken && now < *news_taken + kNewsGap;
        if (resting) until = until ? std::min(*until, *news_taken + kNewsGap) : *news_taken + kNewsGap;
        const int ms = until ? static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(*until - now).count()) : -1;
        const Woken woken = sleep_on(resting ? kNoWaitHandle : pipe_.handle(), hooks.handle, until ? std::max(ms, 0) : -1);
        rested = resting && !woken.second;
        if (woken.first) {
            pipe_.drain();
            news_taken = Clock::now();
        }
        if (woken.second && hooks.on_readable) hooks.on_readable();
    }
}

}  // namespace vq::cli
