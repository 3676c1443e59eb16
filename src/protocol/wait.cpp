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

}  // namespace vq
