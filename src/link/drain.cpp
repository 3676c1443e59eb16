#include "link/drain.h"

#include <algorithm>
#include <thread>

namespace vq {

Drain drain_output(const std::function<long()>& queued_now, std::chrono::steady_clock::time_point deadline) {
    // 115200 baud with 8N1 moves 11520 bytes a second; a slower line is
    // looked at a little more often than it needs.
    constexpr double kBytesPerSecond = 11520;
    for (;;) {
        const long queued = queued_now();
        if (queued < 0) return Drain::Failed;
        if (queued == 0) return Drain::Done;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return Drain::TimedOut;
        const auto line_time = std::chrono::duration<double>(static_cast<double>(queued) / kBytesPerSecond);
        const auto nap = std::clamp(std::chrono::duration_cast<std::chrono::steady_clock::duration>(line_time),
                                    std::chrono::steady_clock::duration(std::chrono::milliseconds(1)),
                                    std::chrono::steady_clock::duration(std::chrono::milliseconds(20)));
        std::this_thread::sleep_for(std::min(nap, deadline - now));
    }
}

}  // namespace vq
