#include "link/event_clock.h"

#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <cmath>

namespace vq {

double EventClock::now() { return static_cast<double>(timer_.nsecsElapsed()) / 1e9; }

void EventClock::process_events_for(double seconds) {
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
    loop.exec();
    const double spent = now() - start;
    if (spent * 1000.0 < ms)  // the loop refused to run: the application is quitting
        QThread::usleep(static_cast<unsigned long>((ms - spent * 1000.0) * 1000.0));
}

}  // namespace vq
