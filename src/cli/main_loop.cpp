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

// Sleeps until `first` or `second` is readable (signalled), for `ms` at most;
// -1: without an end.
Woken sleep_on(WaitHandle first, WaitHandle second, int ms) {
#ifdef _WIN32
    const HANDLE handles[2] = {first, second};
    const DWORD n = second ? 2 : 1;
    const DWORD got = WaitForMultipleObjects(n, handles, FALSE, ms < 0 ? INFINITE : static_cast<DWORD>(ms));
    return {got == WAIT_OBJECT_0, n == 2 && got == WAIT_OBJECT_0 + 1};
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
    for (;;) {
        if (hooks.on_wake) hooks.on_wake();
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
        const int ms = until ? static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(*until - now).count()) : -1;
        const Woken woken = sleep_on(pipe_.handle(), hooks.handle, until ? std::max(ms, 0) : -1);
        if (woken.first) pipe_.drain();
        if (woken.second && hooks.on_readable) hooks.on_readable();
    }
}

}  // namespace vq::cli
