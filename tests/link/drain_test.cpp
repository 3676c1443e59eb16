#include "link/drain.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <pty.h>
#include <unistd.h>
#endif

namespace vq {
namespace {

using namespace std::chrono_literals;

// A pseudo-terminal's other end takes every byte at once: nothing waits.
// A closed handle is a failure.
TEST(OutputQueued, IsNothingOnAPseudoTerminalAndAFailureOnAClosedHandle) {
#ifdef _WIN32
    const HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    EXPECT_EQ(output_queued(reinterpret_cast<std::intptr_t>(event)), -1) << "not a serial device";
    CloseHandle(event);
#else
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(write(slave, "\x02\x01", 2), 2);
    EXPECT_EQ(output_queued(slave), 0);
    close(slave);
    close(master);
    EXPECT_EQ(output_queued(slave), -1);
#endif
}

// What the output queue says decides, and a device that stopped taking data
// ends the wait at its deadline, looked at a few times, not in a spin.
TEST(DrainOutput, EndsWhenTheQueueEmptiesFailsWithTheSystemAndGivesUpAtTheDeadline) {
    long queued = 3000;
    EXPECT_EQ(drain_output([&] { return queued = std::max(0L, queued - 1000); }, std::chrono::steady_clock::now() + 1s),
              Drain::Done);
    EXPECT_EQ(drain_output([] { return -1L; }, std::chrono::steady_clock::now() + 1s), Drain::Failed);
    int looks = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(drain_output([&] { return ++looks, 11520L; }, start + 100ms), Drain::TimedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
    EXPECT_LE(looks, 7) << "a second's worth of bytes is looked at every 20 ms";
    int pauses = 0;
    EXPECT_EQ(drain_output([] { return 11520L; }, std::chrono::steady_clock::now() + 10s,
                           [&](long ms) { return ms == 20 && ++pauses == 3; }),
              Drain::Stopped)
        << "the pause in place of the sleep, and a stop heard in it ends the wait";
}

}  // namespace
}  // namespace vq
