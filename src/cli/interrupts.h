#pragma once
// SIGINT and SIGTERM, brought to the main loop instead of ending the
// program: the handler only writes the signal's number into a pipe, which
// the loop watches. A closed stdout or stderr (a pipe whose reader has
// gone) must not end the sender before it has cancelled and closed the
// port, so SIGPIPE is ignored and such writes merely fail.

namespace vq::cli {

class Interrupts {
public:
    Interrupts();
    ~Interrupts();
    Interrupts(const Interrupts&) = delete;
    Interrupts& operator=(const Interrupts&) = delete;

    // Readable once a signal came; -1 where signals are not caught.
    int fd() const;
    // The next signal that came, or 0.
    int take();
};

}  // namespace vq::cli
