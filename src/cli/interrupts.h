#pragma once
// SIGINT and SIGTERM, brought to the event loop instead of ending the
// program: `on_signal` runs there with the signal's number, never inside a
// signal handler. A closed stdout or stderr (a pipe whose reader has gone)
// must not end the sender before it has cancelled and closed the port, so
// SIGPIPE is ignored and such writes merely fail.

#include <functional>
#include <memory>

class QSocketNotifier;

namespace vq::cli {

class Interrupts {
public:
    explicit Interrupts(std::function<void(int)> on_signal);
    ~Interrupts();
    Interrupts(const Interrupts&) = delete;
    Interrupts& operator=(const Interrupts&) = delete;

private:
    std::function<void(int)> on_signal_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace vq::cli
