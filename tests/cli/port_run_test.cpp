// One port's uploads on their own thread, against the simulated device on a
// pty, as the command line runs them.

#include "cli/port_worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "records/file_hash.h"
#include "records/store.h"
#include "cli/main_loop.h"
#include "protocol/report.h"
#include "sim/pty_device.h"
#include "support/temp_file.h"

namespace vq::cli {
namespace {

using Clock = std::chrono::steady_clock;
using records::crc32_of;
using records::FileHash;
using records::sha256_of;

RunSettings sending(const std::string& file, bool record = false) {
    RunSettings settings;
    settings.file = file;
    settings.record = record;
    return settings;
}

// When the main thread heard the first progress and the end.
struct Heard final : PortOutput {
    void on_progress(int) override {
        if (!first_progress) first_progress = Clock::now();
    }
    void ended(const UploadOutcome& o) override {
        end = Clock::now();
        outcome = o;
    }
    void started(const UploadStart& s) override { unit = s.unit; }
    void waiting(const std::string& what, const std::string& text) override { waits.push_back(what + ": " + text); }
    std::optional<Clock::time_point> first_progress, end;
    std::string unit;
    std::vector<std::string> waits;
    UploadOutcome outcome;
};

struct Runs {
    Runs(int ports, sim::DeviceBehaviour behaviour, RunSettings settings, std::shared_ptr<StartGate> gate = {}) {
        for (int i = 0; i < ports; ++i) {
            devices.push_back(std::make_unique<sim::PtyDevice>(behaviour));
            devices.back()->start();
            const std::string path = devices.back()->path();
            runs.push_back(std::make_unique<PortRun>(
                PortTarget{path, PortMap(std::vector<PortEntry>{{path, "simulated device"}}), "COM1", {}, gate}, settings,
                [this] { loop.wake(); }));
            heard.push_back(std::make_unique<Heard>());
            runs.back()->add_output(heard.back().get());
        }
    }
    // Runs the main thread's loop until every port is done, for 10 s at most.
    bool wait() {
        return loop.run([&] { return std::all_of(runs.begin(), runs.end(), [](const auto& r) { return r->finished(); }); },
                        {.on_wake = [&] { for (const auto& r : runs) r->deliver(); }}, 10.0);
    }
    MainLoop loop;
    std::vector<std::unique_ptr<sim::PtyDevice>> devices;
    std::vector<std::unique_ptr<PortRun>> runs;
    std::vector<std::unique_ptr<Heard>> heard;
};

TEST(PortRun, ReportsProgressWhileTheUploadRunsOnOnePortAndOnSeveral) {
    test::TempDir dir;
    const std::string file = dir.write("fw.bin", std::vector<std::uint8_t>(5000, 0x5A));
    for (int ports : {1, 2}) {
        Runs r(ports, {}, sending(file));
        for (const auto& run : r.runs) run->start();
        ASSERT_TRUE(r.wait()) << ports;
        for (const auto& h : r.heard) {
            ASSERT_TRUE(h->first_progress && h->end) << ports;
            EXPECT_EQ(h->outcome.result.end, UploadEnd::Finished);
            EXPECT_GT(*h->end - *h->first_progress, std::chrono::milliseconds(300))
                << ports << " ports: five blocks take half a second, and the first was heard before them";
        }
    }
}

TEST(PortRun, AJigsBoardWaitsWhileItsPortIsHeldThenForItsGoAndIsSentAsTheUnitGiven) {
    test::TempDir dir;
    RunSettings settings = sending(dir.write("fw.bin", std::vector<std::uint8_t>(2000, 0x5A)), true);
    settings.repeat = true;
    settings.count = 1;
    const auto gate = std::make_shared<StartGate>("scan the unit's serial");
    Runs r(1, {}, settings, gate);
    const std::string port = r.devices[0]->path();
    int held = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    EXPECT_FALSE(gate->give("VQ-8")) << "no board asks yet";
    r.runs[0]->start();
    const Heard& heard = *r.heard[0];
    ASSERT_TRUE(r.loop.run([&] { return r.runs[0]->finished(); },
                           {.on_wake = [&] {
                               r.runs[0]->deliver();
                               if (held >= 0 && !heard.waits.empty()) ::close(std::exchange(held, -1));
                               if (heard.waits.size() == 2 && heard.unit.empty()) gate->give("VQ-9");
                           }},
                           10.0));
    std::string us;
    std::getline(std::ifstream("/proc/self/comm"), us);
    EXPECT_EQ(heard.waits, (std::vector<std::string>{
                               "opening: " + port + ": held by another program (" + us + ", pid " + std::to_string(::getpid()) + ")",
                               "go: scan the unit's serial"}));
    EXPECT_EQ(heard.unit, "VQ-9");
    EXPECT_EQ(heard.outcome.result.end, UploadEnd::Finished);
}

// A station's image changed since its recipe was read: nothing is sent,
// and no serial is used up on it.
TEST(PortRun, AStationsImageChangedSinceItsRecipeIsNotSent) {
    test::TempDir dir;
    const std::vector<std::uint8_t> image(50, 0x5A);
    RunSettings settings = sending(dir.write("fw.bin", image));
    settings.image_sha256 = std::string(64, '0');
    const std::string file = settings.file, other = sha256_of(file, [] { return true; }).hex;
    RunSettings stamping = sending(file, true);
    stamping.records = {records::RecordsTarget::Sqlite, dir.file("records.sqlite")};
    stamping.stamp = station::SerialStamp{.offset = 100, .width = 16, .format = "{:d}", .first = 1};
    const struct {
        RunSettings settings;
        std::string ending;
    } rows[] = {
        {settings, file + " has SHA-256 " + other + " now, not the recipe's: nothing was sent"},
        {stamping, "no serial for this unit, so nothing was sent: " + file + " is too short now for the serial at 100"},
    };
    for (const auto& row : rows) {
        Runs r(1, {}, row.settings);
        r.runs[0]->start();
        ASSERT_TRUE(r.wait());
        EXPECT_EQ(r.heard[0]->outcome.ending, row.ending);
        EXPECT_EQ(r.devices[0]->transmissions(), 0) << row.ending;
    }
    EXPECT_EQ(records::open_sqlite_store(dir.file("records.sqlite"))->next_number(stamping.stamp->counter(), 1), 1);
}

TEST(PortRun, AStopRightAfterTheStartStopsBeforeTheUploadHasBegun) {
    test::TempDir dir;
    // Large enough that the stop comes while its SHA-256 is read for the log.
    const std::string file = dir.write("fw.bin", std::vector<std::uint8_t>(32 << 20, 0x5A));
    Runs r(1, sim::DeviceBehaviour{.never_start = true}, sending(file, true));
    r.runs[0]->start();
    r.runs[0]->stop();
    ASSERT_TRUE(r.wait()) << "a device that never asks for the first block keeps an unstopped upload waiting";
    EXPECT_EQ(r.heard[0]->outcome.exit_status, exit_code::kStopped);
}

TEST(PortRun, TheTimeoutBoundsTheHashingOfTheFileToo) {
    test::TempDir dir;
    const std::string file = dir.write("fw.bin", std::vector<std::uint8_t>(32 << 20, 0x5A));
    RunSettings settings = sending(file, true);
    settings.timeout = 0.001;
    Runs r(1, {}, settings);
    r.runs[0]->start();
    ASSERT_TRUE(r.wait());
    const UploadOutcome& o = r.heard[0]->outcome;
    EXPECT_EQ(o.exit_status, exit_code::kTimedOut);
    EXPECT_EQ(o.ending, "timed out after 0.001 s while hashing the file; nothing was sent");
    EXPECT_FALSE(r.heard[0]->first_progress);
}

TEST(FileHash, IsTheSha256OfTheWholeFileUnlessStopped) {
    test::TempDir dir;
    const auto go_on = [] { return true; };
    const std::string big = dir.write("big", std::vector<std::uint8_t>((1 << 20) + 1, 'a'));  // past a read's end
    EXPECT_EQ(sha256_of(big, go_on).hex, "4a3f0c0c213adea174f9a3d4c13177315b588bdb2e9c1012d3d0bf0453ca0f6a");
    int reads = 0;
    const FileHash stopped = sha256_of(big, [&] { return ++reads < 2; });
    EXPECT_TRUE(stopped.stopped && stopped.hex.empty());
    EXPECT_EQ(sha256_of(dir.file("missing"), go_on).hex, "");
}

TEST(FileHash, TheCrc32IsIso3309s) {
    const std::string check = "123456789";
    EXPECT_EQ(crc32_of({reinterpret_cast<const std::uint8_t*>(check.data()), check.size()}), 0xCBF43926u);
}

}  // namespace
}  // namespace vq::cli
