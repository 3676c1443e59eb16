#include "link/plain_clock.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <thread>
#include <utility>

#include "support/cpu_time.h"

namespace vq {
namespace {

TEST(PlainClock, AWaitEndsJustPastItsTimeWithoutSpinningAndRunsTheAlarmInTime) {
    PlainClock clock;
    double alarm_at = 0;
    const double cpu = test::process_cpu_seconds(), start = clock.now();
    clock.set_alarm(start + 0.05, [&] { alarm_at = clock.now(); });
    wait_seconds(0.3f, clock);
    const double waited = clock.now() - start;
    EXPECT_GT(waited, 0.3);
    EXPECT_LT(waited, 0.31) << "generous: a loaded machine may run the thread late";
    EXPECT_GT(alarm_at - start, 0.05);
    EXPECT_LT(alarm_at - start, 0.07);
    EXPECT_LT(test::process_cpu_seconds() - cpu, 0.03) << "a busy wait would take 0.3 s of CPU";

    // A post, once run, leaves the next wait idle.
    bool ran = false;
    clock.post([&] { ran = true; });
    wait_seconds(0.01f, clock, [&] { return ran; });
    const double after_post = test::process_cpu_seconds();
    wait_seconds(0.3f, clock);
    EXPECT_TRUE(ran);
    EXPECT_LT(test::process_cpu_seconds() - after_post, 0.03) << "a post must not make later waits spin";
}

TEST(PlainClock, AByteOnTheWatchedDescriptorOrAPostFromAnotherThreadEndsAWaitThatMayEnd) {
    PlainClock clock;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    clock.wake_on([&] { return fds[0]; });
    bool posted = false;
    std::thread other([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        (void)!::write(fds[1], "x", 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        clock.post([&] { posted = true; });  // runs in the waiting thread
    });
    const auto has_byte = [&] {
        int n = 0;
        return ::ioctl(fds[0], FIONREAD, &n) == 0 && n > 0;
    };
    double start = clock.now();
    wait_seconds(1.0f, clock, has_byte);
    EXPECT_LT(clock.now() - start, 0.1) << "woken by the byte";
    start = clock.now();
    const double cpu = test::process_cpu_seconds();
    wait_seconds(1.0f, clock, [&] { return posted; });
    EXPECT_LT(clock.now() - start, 0.2) << "woken by the post";
    EXPECT_LT(test::process_cpu_seconds() - cpu, 0.02) << "the byte left unread must not make the wait spin";
    EXPECT_TRUE(posted);
    other.join();

    // A byte that comes just after `until` said no is seen at once, and so
    // is the next one, as a console's bytes come.
    for (int round = 0; round < 2; ++round) {
        char byte = 0;
        (void)!::read(fds[0], &byte, 1);
        bool asked = false;
        start = clock.now();
        wait_seconds(1.0f, clock, [&] { return std::exchange(asked, true) ? has_byte() : ::write(fds[1], "y", 1) < 0; });
        EXPECT_LT(clock.now() - start, 0.05) << "byte " << round + 1;
    }
    ::close(fds[0]);
    ::close(fds[1]);
}

}  // namespace
}  // namespace vq
