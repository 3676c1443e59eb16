#include "protocol/wait.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/virtual_clock.h"

namespace vq {
namespace {

TEST(WaitSeconds, ReturnsOnlyOnceStrictlyMoreThanTheDurationHasPassed) {
    for (float seconds : {0.05f, 0.1f, 0.3f, 0.5f, 0.0f}) {
        test::VirtualClock clock;
        clock.advance_to(10.0);
        wait_seconds(seconds, clock);
        const double elapsed = clock.now() - 10.0;
        EXPECT_GT(elapsed, static_cast<double>(seconds)) << seconds;
        EXPECT_LT(elapsed, static_cast<double>(seconds) + 1e-6) << seconds;
    }
}

TEST(WaitSeconds, RunsWhatFallsDueDuringTheWait) {
    test::VirtualClock clock;
    double clicked_at = -1;
    clock.at(0.05, [&] { clicked_at = clock.now(); });
    wait_seconds(0.1f, clock);
    EXPECT_DOUBLE_EQ(clicked_at, 0.05);
}

// A click on Stop during the pause is heard at its end; once heard, the
// pause takes no time and the request stays for the upload.
TEST(PauseHeeding, ProcessesEventsUntilTheUserStops) {
    test::VirtualClock clock;
    std::int16_t stop_request = 0;
    clock.at(0.03, [&] { stop_request = 1; });
    const auto pause = pause_heeding(clock, stop_request);
    EXPECT_FALSE(pause(20));
    EXPECT_TRUE(pause(20));
    EXPECT_NEAR(clock.now(), 0.04, 1e-6);
    EXPECT_TRUE(pause(20));
    EXPECT_NEAR(clock.now(), 0.04, 1e-6);
    EXPECT_EQ(stop_request, 1);
}

// A clock that steps backwards (or a time of day that restarts at midnight)
// must not leave the wait hanging.
class SteppingClock final : public Clock {
public:
    double now() override { return t_; }
    void process_events_for(double seconds, const std::function<bool()>&) override {
        ++calls;
        t_ += std::clamp(seconds, 0.001, 0.01);  // time always advances
        if (calls == 3) t_ -= 86400.0;  // midnight on a time-of-day clock
        if (calls == 200) t_ = -1e12;
    }
    int calls = 0;

private:
    double t_ = 86399.95;
};

TEST(WaitSeconds, EndsAfterTheClockStepsBackwards) {
    SteppingClock clock;
    wait_seconds(0.1f, clock);
    EXPECT_LT(clock.calls, 40) << "the wait restarts its count once, then ends";
}

}  // namespace
}  // namespace vq
