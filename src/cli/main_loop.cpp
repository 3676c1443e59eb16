#include "cli/main_loop.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace vq::cli {

MainLoop::MainLoop() {
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("no pipe for the main loop");
}

MainLoop::~MainLoop() {
    ::close(pipe_[0]);
    ::close(pipe_[1]);
}

void MainLoop::wake() {
    const char byte = 1;
    (void)!::write(pipe_[1], &byte, 1);  // a full pipe wakes the loop all the same
}

bool MainLoop::run(const std::function<bool()>& done, const Hooks& hooks, std::optional<double> seconds) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto next_tenth = start + std::chrono::milliseconds(100);
    for (;;) {
        if (hooks.on_wake) hooks.on_wake();
        if (done()) return true;
        const auto now = Clock::now();
        if (seconds && now - start >= std::chrono::duration<double>(*seconds)) return false;
        if (now >= next_tenth) {
            if (hooks.every_tenth) hooks.every_tenth();
            next_tenth = now + std::chrono::milliseconds(100);
        }
        auto until = next_tenth;
        if (seconds) until = std::min(until, start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(*seconds)));
        const int ms = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(until - now).count());
        pollfd fds[2] = {{pipe_[0], POLLIN, 0}, {hooks.fd, POLLIN, 0}};
        if (::poll(fds, 2, std::max(ms, 0)) <= 0) continue;
        if (fds[0].revents) {
            char bytes[64];
            while (::read(pipe_[0], bytes, sizeof bytes) > 0) {
            }
        }
        if (fds[1].revents && hooks.on_readable) hooks.on_readable();
    }
}

}  // namespace vq::cli
