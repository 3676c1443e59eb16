#include "protocol/wait.h"

namespace vq {

void wait_seconds(float seconds, Clock& clock, const std::function<bool()>& until) {
    const double duration = seconds;
    double start = clock.now();
    for (;;) {
        if (until && until()) return;
        const double now = clock.now();
        if (now < start) start = now;
        const double elapsed = now - start;
        if (elapsed > duration) return;
        clock.process_events_for(duration - elapsed, until);
    }
}

std::function<bool(long ms)> pause_heeding(Clock& clock, const std::int16_t& stop_request) {
    return [&clock, &stop_request](long ms) {
        if (stop_request == 0) clock.process_events_for(static_cast<double>(ms) / 1000.0, {});
        return stop_request != 0;
    };
}

}  // namespace vq
