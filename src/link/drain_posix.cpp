#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>

#include <cerrno>

#include "link/drain.h"

namespace vq {

long output_queued(std::intptr_t handle) {
    int queued = 0;
    return ::ioctl(static_cast<int>(handle), TIOCOUTQ, &queued) == 0 ? queued : -1;
}

void sleep_ms(long ms) {
    timespec left{ms / 1000, (ms % 1000) * 1000000};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace vq
