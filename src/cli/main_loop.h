#pragma once
// The main thread's loop: it sleeps until a port's thread has news for the
// outputs (taken at most every 20 ms), what it watches is readable (the
// interrupts' pipe), or the next tenth of a second when something is to be
// done then, without spinning.

#include <functional>
#include <optional>

#include "link/wake_pipe.h"

namespace vq::cli {

class MainLoop {
public:
    // From any thread: the loop wakes and runs `on_wake`.
    void wake() { pipe_.wake(); }
    // Runs until `done` holds, checked after each wake, or for `seconds` at
    // most: false when the time ran out. `on_wake` runs after every wake,
    // `on_readable` when `handle` is readable (signalled, on Windows),
    // `every_tenth` about ten times a second.
    struct Hooks {
        std::function<void()> on_wake = {};
        WaitHandle handle = kNoWaitHandle;
        std::function<void()> on_readable = {};
        std::function<void()> every_tenth = {};
    };
    bool run(const std::function<bool()>& done, const Hooks& hooks, std::optional<double> seconds = std::nullopt);

private:
    WakePipe pipe_;
};

}  // namespace vq::cli
