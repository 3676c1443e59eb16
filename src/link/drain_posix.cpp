#include <termios.h>

#include <cerrno>

#include "link/drain.h"

namespace vq {

bool drain_output(std::intptr_t handle) {
    int rc;
    do {
        rc = ::tcdrain(static_cast<int>(handle));
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

}  // namespace vq
