#include "cli/interrupts.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <memory>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

#include "cli/main_loop.h"
#ifndef _WIN32
#include "support/cpu_time.h"
#endif

namespace vq::cli {
namespace {

// Each way of asking to stop reaches the main loop as the signal the sender
// acts on: SIGINT stops with a second press to quit, SIGTERM and SIGHUP stop.
TEST(Interrupts, EachStopRequestWakesTheMainLoopAsItsSignalInTheOrderGiven) {
#ifdef _WIN32
    const unsigned long requests[] = {CTRL_C_EVENT, CTRL_BREAK_EVENT, CTRL_C_EVENT};
    const auto request = [](unsigned long type) { EXPECT_TRUE(on_console_control(type)); };
    const std::vector<int> expected{SIGINT, SIGTERM, SIGINT};
#else
    const int requests[] = {SIGINT, SIGTERM, SIGHUP};  // SIGHUP: the terminal was closed
    const auto request = [](int signo) { ::raise(signo); };  // this process only
    const std::vector<int> expected{SIGINT, SIGTERM, SIGHUP};
#endif
    Interrupts interrupts;
    std::vector<int> heard;
    MainLoop loop;
    std::thread other([&] {
        for (auto r : requests) request(r);
    });
    const bool all = loop.run([&] { return heard.size() == 3; },
                              {.handle = interrupts.handle(), .on_readable = [&] {
                                   if (const int signo = interrupts.take()) heard.push_back(signo);
                               }},
                              5.0);
    other.join();
    EXPECT_TRUE(all);
    EXPECT_EQ(heard, expected);
    EXPECT_EQ(interrupts.take(), 0);
#ifdef _WIN32
    EXPECT_FALSE(on_console_control(99)) << "a request it does not know is left to the next handler";
#endif
}

#ifdef _WIN32
// The system ends the program once the handler of a closing console
// returns: it holds until the requests are done with (the port released).
TEST(Interrupts, ClosingTheConsoleHoldsTheProgramUntilThePortIsReleased) {
    auto interrupts = std::make_unique<Interrupts>();
    std::atomic<bool> returned{false};
    std::thread console([&] {
        on_console_control(CTRL_CLOSE_EVENT);
        returned = true;
    });
    ASSERT_EQ(WaitForSingleObject(interrupts->handle(), 2000), WAIT_OBJECT_0);
    EXPECT_EQ(interrupts->take(), SIGTERM);
    EXPECT_FALSE(returned) << "the handler returned while the port was open";
    interrupts.reset();
    console.join();
    EXPECT_TRUE(returned);
}
#endif

#ifndef _WIN32
// A wake leaves nothing behind in the loop's pipe: the next wait sleeps.
TEST(MainLoop, AWakeIsTakenAndTheLoopThenSleeps) {
    MainLoop loop;
    int wakes = 0;
    loop.wake();
    const double cpu = test::process_cpu_seconds();
    EXPECT_FALSE(loop.run([] { return false; }, {.on_wake = [&] { ++wakes; }}, 0.3));
    EXPECT_LE(wakes, 3) << "before sleeping, after the wake, at the end";
    EXPECT_LT(test::process_cpu_seconds() - cpu, 0.03) << "a wake left unread would make it spin";
}
#endif

// A port's thread wakes it at every block; it takes the news about every
// 20 ms, not at every wake.
TEST(MainLoop, TakesNewsAtMostFiftyTimesASecond) {
    MainLoop loop;
    std::atomic<bool> over = false;
    std::thread port([&] {
        while (!over) loop.wake(), std::this_thread::sleep_for(std::chrono::microseconds(500));
    });
    int taken = 0;
    loop.run([] { return false; }, {.on_wake = [&] { ++taken; }}, 0.3);
    over = true;
    port.join();
    EXPECT_GE(taken, 5);
    EXPECT_LE(taken, 20) << "0.3 s at one wake a 0.5 ms";
}

}  // namespace
}  // namespace vq::cli
