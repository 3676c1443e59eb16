#include "link/event_clock.h"

#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <cmath>
#include <memory>

#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace vq {

double EventClock::now() { return static_cast<double>(timer_.nsecsElapsed()) / 1e9; }

EventClock::EventClock() {
    timer_.start();
#ifdef __linux__
    // Sleeps of this thread end when asked, not up to 50 microseconds later.
    ::prctl(PR_SET_TIMERSLACK, 1UL);
#endif
}

void EventClock::process_events_for(double seconds, const std::function<bool()>& until) {
    // Timers count whole milliseconds: run the event loop for those, and
    // sleep through the last fraction, so a wait of 0.1 s ends just past
    // 0.1 s rather than a millisecond later.
    const int ms = static_cast<int>(std::floor(seconds * 1000.0));
    if (ms < 1) {
        QThread::usleep(static_cast<unsigned long>(std::max(1.0, seconds * 1e6)));
        return;
    }
    const double start = now();
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    bool held = false;
    std::unique_ptr<QSocketNotifier> arrival;
    if (const int fd = until && wake_fd_ ? wake_fd_() : -1; fd >= 0) {
        // Once is enough: the loop then checks `until` before it sleeps again.
        arrival = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        QObject::connect(arrival.get(), &QSocketNotifier::activated, &loop, [&] { arrival->setEnabled(false); });
    }
    if (until) {
        // The loop is about to sleep: everything pending, a received byte
        // included, has been handled.
        QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &loop,
                         [&] {
                             if (!held && until()) {
                                 held = true;
                                 loop.quit();
                             }
                         });
    }
    loop.exec();
    const double spent = now() - start;
    if (!held && spent * 1000.0 < ms)  // the loop refused to run: the application is quitting
        QThread::usleep(static_cast<unsigned long>((ms - spent * 1000.0) * 1000.0));
}

}  // namespace vq
