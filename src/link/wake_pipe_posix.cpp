#include "link/wake_pipe.h"

#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>

namespace vq {

WakePipe::WakePipe() {
    if (::pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("no pipe to wake a thread with");
}

WakePipe::~WakePipe() {
    ::close(fds_[0]);
    ::close(fds_[1]);
}

void WakePipe::wake() {
    const char byte = 1;
    (void)!::write(fds_[1], &byte, 1);
}

WaitHandle WakePipe::handle() const { return fds_[0]; }

void WakePipe::drain() {
    char bytes[64];
    while (::read(fds_[0], bytes, sizeof bytes) > 0) {
    }
}

}  // namespace vq
