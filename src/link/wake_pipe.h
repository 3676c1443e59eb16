#pragma once
// A pipe that wakes a thread sleeping in poll(): any thread writes a byte,
// the sleeper watches the read end and empties it on waking. What the
// wake is for is kept elsewhere; a full pipe wakes the sleeper all the same.

namespace vq {

class WakePipe {
public:
    WakePipe();  // throws std::runtime_error when the system has no pipe to give
    ~WakePipe();
    WakePipe(const WakePipe&) = delete;
    WakePipe& operator=(const WakePipe&) = delete;

    // From any thread.
    void wake();
    // The end to poll for reading.
    int fd() const { return fds_[0]; }
    // Takes every byte written so far.
    void drain();

private:
    int fds_[2] = {-1, -1};
};

}  // namespace vq
