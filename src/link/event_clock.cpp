#include "link/event_clock.h"

#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <cmath>

namespace vq {

double EventClock::now() { return static_cast<double>(timer_.nsecsElapsed()) / 1e9; }

void EventClock::process_events_for(double seconds) {
    const int ms = std::max(1, static_cast<int>(std::ceil(seconds * 1000.0)));
    const double start = now();
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
    const double spent = now() - start;
    if (spent * 1000.0 < ms)
        QThread::usleep(static_cast<unsigned long>((ms - spent * 1000.0) * 1000.0));
}

}  // namespace vq
