#include "ui/win32/message_clock.h"

#include <cmath>

namespace vq {

void dispatch(HWND window, MSG& message) {
    if (window && IsDialogMessageW(window, &message)) return;
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

double MessageClock::now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

bool MessageClock::dispatch_waiting() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return false;
        }
        dispatch(window_, message);
    }
    return true;
}

void MessageClock::process_events_for(double seconds, const std::function<bool()>& until) {
    static const bool precise = timeBeginPeriod(1) == TIMERR_NOERROR;
    (void)precise;
    const double end = now() + seconds;
    const bool quitting = !dispatch_waiting();
    if (until && until()) return;
    HANDLE arrival = until && wake_ ? wake_() : nullptr;
    const WatchThen then = watch_then(arrival && WaitForSingleObject(arrival, 0) == WAIT_OBJECT_0, until);
    if (then == WatchThen::ReturnNow) return;
    if (then == WatchThen::SleepUnwatched) arrival = nullptr;
    const double left = std::max(0.0, end - now());
    const auto ms = static_cast<DWORD>(std::ceil(left * 1000.0));
    // Once the application quits, messages are not waited for: they would
    // end every wait at once.
    if (quitting)
        WaitForSingleObject(arrival ? arrival : GetCurrentProcess(), ms);
    else
        MsgWaitForMultipleObjectsEx(arrival ? 1 : 0, &arrival, ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    dispatch_waiting();
}

}  // namespace vq
