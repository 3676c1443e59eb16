#include "link/drain.h"

#include <algorithm>

namespace vq {

Drain drain_output(const std::function<long()>& queued_now, std::chrono::steady_clock::time_point deadline,
                   const DrainPause& pause) {
    // 115200 baud with 8N1 moves 11520 bytes a second; a slower line is
    // looked at a little more often than it needs.
    constexpr double kBytesPerSecond = 11520;
    for (;;) {
        const long queued = queued_now();
        if (queued < 0) return Drain::Failed;
        if (queued == 0) return Drain::Done;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return Drain::TimedOut;
        const long line_ms = static_cast<long>(static_cast<double>(queued) * 1000.0 / kBytesPerSecond);
        const long left_ms = static_cast<long>(std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count());
        const long ms = std::clamp(std::min(line_ms, left_ms), 1L, 20L);
        if (!pause) sleep_ms(ms);
        else if (pause(ms)) return Drain::Stopped;
    }
}

}  // namespace vq
