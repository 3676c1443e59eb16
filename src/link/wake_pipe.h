#pragma once
// Wakes a thread sleeping in the system's wait: any thread calls wake(),
// the sleeper waits on handle() and takes the wake with drain(). On Unix it
// is a pipe (a full pipe wakes the sleeper all the same), on Windows an
// event. What the wake is for is kept elsewhere.

namespace vq {

#ifdef _WIN32
using WaitHandle = void*;  // an event (a HANDLE); nullptr stands for none
inline constexpr WaitHandle kNoWaitHandle = nullptr;
#else
using WaitHandle = int;  // a descriptor to poll for reading; -1 stands for none
inline constexpr WaitHandle kNoWaitHandle = -1;
#endif

class WakePipe {
public:
    WakePipe();  // throws std::runtime_error when the system has none to give
    ~WakePipe();
    WakePipe(const WakePipe&) = delete;
    WakePipe& operator=(const WakePipe&) = delete;

    // From any thread.
    void wake();
    // What to wait on.
    WaitHandle handle() const;
    // Takes every wake so far.
    void drain();

private:
#ifdef _WIN32
    void* event_ = nullptr;
#else
    int fds_[2] = {-1, -1};
#endif
};

// What a wait does with a handle that turns ready once a byte waits, when
// the wait may end on a byte. Ready already as the wait begins, the byte
// most likely came just after the wait's condition was asked: the wait
// returns at once, so that it is asked again. Ready still at the next wait,
// what is there is not what the wait waits for, and watching it would spin:
// that wait sleeps without watching it.
class ReadyWatch {
public:
    enum class Then { ReturnNow, Watch, SleepUnwatched };
    Then begin(bool ready) {
        if (ready && !ready_before_) {
            ready_before_ = true;
            return Then::ReturnNow;
        }
        ready_before_ = false;
        return ready ? Then::SleepUnwatched : Then::Watch;
    }

private:
    bool ready_before_ = false;
};

}  // namespace vq
