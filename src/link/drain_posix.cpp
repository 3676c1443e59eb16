#include <sys/ioctl.h>
#include <termios.h>

#include "link/drain.h"

namespace vq {

long output_queued(std::intptr_t handle) {
    int queued = 0;
    return ::ioctl(static_cast<int>(handle), TIOCOUTQ, &queued) == 0 ? queued : -1;
}

}  // namespace vq
