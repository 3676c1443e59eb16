#include <windows.h>

#include <stdexcept>

#include "link/wake_pipe.h"

namespace vq {

// Auto-reset: the wait that sees it signalled takes it.
WakePipe::WakePipe() : event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    if (!event_) throw std::runtime_error("no event to wake a thread with");
}

WakePipe::~WakePipe() { CloseHandle(event_); }

void WakePipe::wake() { SetEvent(event_); }

WaitHandle WakePipe::handle() const { return event_; }

void WakePipe::drain() { ResetEvent(event_); }

}  // namespace vq
