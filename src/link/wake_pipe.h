#pragma once
// Wakes a thread sleeping in the system's wait: any thread calls wake(),
// the sleeper waits on handle() and takes the wake with drain(). On Unix it
// is a pipe (a full pipe wakes the sleeper all the same), on Windows an
// event. What the wake is for is kept elsewhere.

#include <functional>

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

// What a wait that `until` may end does with a handle that turns ready once
// a byte waits. Not ready: it watches the handle. Ready, and `until` holds:
// the byte came just after the condition was last asked, and the wait
// returns at once. Ready, and `until` does not hold: what waits is not what
// the wait is for, and watching it would spin, so the wait sleeps without
// it. (Asked anew each time: a console's bytes come one by one, and a byte
// that came between two waits is no stale one.)
enum class WatchThen { ReturnNow, Watch, SleepUnwatched };
inline WatchThen watch_then(bool ready, const std::function<bool()>& until) {
    if (!ready) return WatchThen::Watch;
    return until && until() ? WatchThen::ReturnNow : WatchThen::SleepUnwatched;
}

}  // namespace vq
