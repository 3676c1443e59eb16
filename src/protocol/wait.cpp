#include "protocol/wait.h"

namespace vq {

void wait_seconds(float seconds, Clock& clock) {
    const double duration = seconds;
    double start = clock.now();
    for (;;) {
        const double now = clock.now();
        if (now < start) start = now;
        const double elapsed = now - start;
        if (elapsed > duration) return;
        clock.process_events_for(duration - elapsed);
    }
}

}  // namespace vq
