#include "cli/main_loop.h"

#include <poll.h>

#include <chrono>

namespace vq::cli {

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
            if (hooks.every_tenth) hooks.every_tenth();
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
        pollfd fds[2] = {{pipe_.fd(), POLLIN, 0}, {hooks.fd, POLLIN, 0}};
        if (::poll(fds, 2, until ? std::max(ms, 0) : -1) <= 0) continue;
        if (fds[0].revents) pipe_.drain();
        if (fds[1].revents && hooks.on_readable) hooks.on_readable();
    }
}

}  // namespace vq::cli
