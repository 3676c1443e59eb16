#pragma once
// Waiting until every byte written to a serial device has left the
// operating system's buffers, for a limited time: a device that stopped
// taking data (a USB CDC device that is busy or hung) must not hold the
// sender for ever.

#include <chrono>
#include <cstdint>
#include <functional>

namespace vq {

enum class Drain { Done, Failed, TimedOut, Stopped };

// How time passes between looks: waits about `ms` milliseconds and returns
// true when the drain should end at once (the user stopped).
using DrainPause = std::function<bool(long ms)>;

// Returns once `queued` (the bytes still waiting to leave, -1 for a
// failure) says 0, or `deadline` has passed with bytes still waiting, or it
// says -1 (the system's error is left in errno or GetLastError), or `pause`
// says stop. It pauses between looks, about as long as the bytes still
// waiting take on the line; without a `pause` it sleeps.
Drain drain_output(const std::function<long()>& queued, std::chrono::steady_clock::time_point deadline,
                   const DrainPause& pause = {});

// The bytes written to the device behind `handle` that have not left yet:
// TIOCOUTQ on Unix (0 on a pseudo-terminal, whose other end takes every
// byte at once), the output queue of ClearCommError on Windows; -1 when the
// system reports a failure.
long output_queued(std::intptr_t handle);

// Sleeps `ms` milliseconds with the system's own call (std::this_thread's
// returns at once under MinGW and Wine).
void sleep_ms(long ms);

}  // namespace vq
