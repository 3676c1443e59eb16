#pragma once
// Real time for the Win32 window's upload: a monotonic clock whose waits
// dispatch the window's messages (clicks, keys, painting) while they wait,
// in MsgWaitForMultipleObjectsEx, without spinning. A click during a wait
// runs its handler inside the wait. A wait that `until` may end wakes as
// soon as the link has a byte, never later than its end.

#include "ui/win32/win32_api.h"

#include <chrono>
#include <functional>

#include "link/wake_pipe.h"
#include "protocol/wait.h"

namespace vq {

class MessageClock final : public Clock {
public:
    double now() override;
    void process_events_for(double seconds, const std::function<bool()>& until) override;
    // An event signalled once the link has a byte; asked anew before each
    // sleep (nullptr: none).
    void wake_on(std::function<WaitHandle()> source) { wake_ = std::move(source); }
    // The window whose dialog keys (Tab, Enter, Space) are handled as a
    // dialog's.
    void set_window(HWND window) { window_ = window; }
    // Dispatches every message waiting. false once WM_QUIT came; it is
    // posted again for the loop that owns it.
    bool dispatch_waiting();

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::function<WaitHandle()> wake_;
    HWND window_ = nullptr;
};

// Dispatches `message`, as a dialog's when it is for `window`'s keys.
void dispatch(HWND window, MSG& message);

}  // namespace vq
