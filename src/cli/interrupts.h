#pragma once
// Requests to stop, brought to the main loop instead of ending the program.
//
// On Unix, SIGINT and SIGTERM: the handler only writes the signal's number
// into a pipe, which the loop watches. A closed stdout or stderr (a pipe
// whose reader has gone) must not end the sender before it has cancelled
// and closed the port, so SIGPIPE is ignored and such writes merely fail.
//
// On Windows, the console's Ctrl-C (as SIGINT), and Ctrl-Break, closing the
// console window, logging off or shutting down (as SIGTERM), through
// SetConsoleCtrlHandler. For the last three the system ends the program
// once the handler returns, so the handler holds it, for up to 5 s, until
// the Interrupts are destroyed: time to cancel and close the port.

#include "link/wake_pipe.h"

namespace vq::cli {

class Interrupts {
public:
    Interrupts();
    ~Interrupts();
    Interrupts(const Interrupts&) = delete;
    Interrupts& operator=(const Interrupts&) = delete;

    // Readable (signalled) once a request came; kNoWaitHandle where none are
    // caught.
    WaitHandle handle() const;
    // The next request that came, as a signal number, or 0.
    int take();
};

#ifdef _WIN32
// The console control handler itself, for `type` (CTRL_C_EVENT, ...):
// whether the request was taken.
bool on_console_control(unsigned long type);
#endif

}  // namespace vq::cli
