#include "link/event_clock.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>

#include "protocol/wait.h"
#include "support/cpu_time.h"

namespace vq {
namespace {

TEST(EventClock, WaitLastsStrictlyLongerThanAskedAndRunsEventsMeanwhile) {
    EventClock clock;
    bool fired = false;
    QTimer::singleShot(30, [&] { fired = true; });
    QElapsedTimer t;
    t.start();
    wait_seconds(0.1f, clock);
    const qint64 ns = t.nsecsElapsed();
    EXPECT_GT(ns, 100'000'000);
    EXPECT_LT(ns, 250'000'000) << "generous: only an overshoot of a whole wait is a fault";
    EXPECT_TRUE(fired) << "an event that fell due during the wait was handled";
}

TEST(EventClock, AOneSecondWaitLeavesTheProcessorIdle) {
    EventClock clock;
    const double cpu = test::process_cpu_seconds();
    wait_seconds(1.0f, clock);
    const double share = test::process_cpu_seconds() - cpu;
    RecordProperty("cpu_seconds_per_1s_wait", std::to_string(share));
    EXPECT_LT(share, 0.05) << "a busy wait would take a whole second of CPU";
}

}  // namespace
}  // namespace vq
