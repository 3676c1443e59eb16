#include "link/drain.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <pty.h>
#include <unistd.h>
#endif

#include "support/temp_file.h"

namespace vq {
namespace {

// A handle the system can drain: a file on Windows, a terminal elsewhere.
TEST(DrainOutput, SucceedsOnAnOpenDeviceAndFailsOnAClosedOne) {
#ifdef _WIN32
    test::TempDir dir;
    const HANDLE file = CreateFileW(test::utf8_path(dir.file("out")).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, "\x02\x01", 2, &written, nullptr);
    EXPECT_TRUE(drain_output(reinterpret_cast<std::intptr_t>(file)));
    CloseHandle(file);
    EXPECT_FALSE(drain_output(reinterpret_cast<std::intptr_t>(file)));
#else
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(write(slave, "\x02\x01", 2), 2);
    EXPECT_TRUE(drain_output(slave));
    close(slave);
    close(master);
    EXPECT_FALSE(drain_output(slave));
#endif
}

}  // namespace
}  // namespace vq
