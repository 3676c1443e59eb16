#pragma once
// Waiting until every byte written to a serial device has left the
// operating system's buffers: tcdrain on Unix, FlushFileBuffers on Windows.

#include <cstdint>

namespace vq {

// Returns once everything written to the open device behind `handle` (a
// file descriptor, or a Windows HANDLE) has been sent; false when the
// system reports a failure.
bool drain_output(std::intptr_t handle);

}  // namespace vq
