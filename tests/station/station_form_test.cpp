// A slot's tile follows its uploads: waiting, flashing with its serial,
// PASS or FAIL with the reason, kept in sight until the board is removed.
// The form, over fake slots, sends each scanned serial to the board that
// waits for it, and counts today's uploads from the records.

#include "station/station_form.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "protocol/report.h"
#include "records/store.h"
#include "support/record_samples.h"
#include "support/temp_file.h"

namespace vq::station {
namespace {

TEST(SlotTile, ShowsEachBoardsStateInWordsAndASymbolAndCountsItOnce) {
    std::vector<Tile> shown;
    std::vector<std::pair<bool, std::string>> counted;
    SlotTile tile(3, "A", [&](std::size_t at, const Tile& t) {
        EXPECT_EQ(at, 3u);
        shown.push_back(t);
    }, [&](bool passed, const std::string& unit) { counted.emplace_back(passed, unit); });
    cli::UploadOutcome failed;
    failed.exit_status = exit_code::kRejected;
    failed.ending = "The device rejected the upload";
    cli::UploadOutcome stopped;
    stopped.exit_status = exit_code::kStopped;
    const struct {
        std::function<void()> event;
        Tile::State state;
        std::string words;
        bool remove;
    } steps[] = {
        {[&] { tile.waiting("device", "waiting for a device on COM3"); }, Tile::State::Waiting, "plug in a board", false},
        {[&] { tile.waiting("opening", "COM3: held by another program (minicom, pid 9)"); }, Tile::State::Waiting,
         "COM3: held by another program (minicom, pid 9)", false},
        {[&] { tile.waiting("go", "scan the unit's serial"); }, Tile::State::Waiting, "scan the unit's serial", false},
        {[&] { tile.started({.unit = "VQ-000041"}); }, Tile::State::Flashing, "0%", false},
        {[&] { tile.on_phase(Phase::WakingUp, 3); }, Tile::State::Flashing, "waking the board", false},
        {[&] {  // a block of four acknowledged a second after it went
             tile.on_block(0, 4, 1);
             tile.on_transmission(Transmission::Data, {}, 10.0);
             tile.on_reply({kAck, kAck}, 11.0);
             tile.on_progress(25);
         },
         Tile::State::Flashing, "25% \u00B7 0:03 left", false},
        {[&] { tile.ended(cli::UploadOutcome{}); }, Tile::State::Passed, "", false},
        {[&] { tile.waiting("removal", "waiting for the device to be taken away"); }, Tile::State::Passed, "", true},
        {[&] { tile.waiting("device", "waiting for a device on COM3"); }, Tile::State::Waiting, "plug in the next board", false},
        {[&] { tile.started({.unit = "VQ-000042"}); }, Tile::State::Flashing, "0%", false},
        {[&] { tile.ended(failed); }, Tile::State::Failed, "The device rejected the upload", false},
        {[&] { tile.started({}); }, Tile::State::Flashing, "0%", false},
        {[&] { tile.ended(stopped); }, Tile::State::Stopped, "", false},
    };
    for (const auto& step : steps) {
        step.event();
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(std::tie(shown.back().state, shown.back().words, shown.back().remove),
                  std::tie(step.state, step.words, step.remove))
            << tile_caption(step.state);
    }
    EXPECT_EQ(counted, (std::vector<std::pair<bool, std::string>>{{true, "VQ-000041"}, {false, "VQ-000042"}}))
        << "a stop is neither a pass nor a fail";
    EXPECT_EQ(tile_caption(Tile::State::Failed), "\u2718 FAIL");
}

struct FakePorts final : PortSource {
    explicit FakePorts(std::vector<std::string>& d) : devices(d) {}
    std::vector<PortInfo> present() override {
        std::vector<PortInfo> out;
        for (const auto& d : devices) out.push_back({.device = d, .description = {}, .identity = {}});
        return out;
    }
    std::vector<std::string>& devices;
};

// A slot whose board is put in place by the test.
struct FakeSlot final : SlotRunner {
    FakeSlot(const cli::PortTarget& t, cli::PortOutput& o) : target(t), output(o) {}
    void start() override {}
    void deliver() override {}
    void stop() override {}
    // A board in place: it asks for its go.
    void board_in() {
        target.gate->open();
        output.waiting("go", target.gate->asking());
    }
    cli::PortTarget target;
    cli::PortOutput& output;
};

struct Station final : StationView {
    // `slot_a_by_link`: slot A names its port by a link to /dev/null, as
    // by-path names do.
    explicit Station(Recipe::Start start = Recipe::Start::OnScan, bool slot_a_by_link = false) {
        recipe.name = "Board X";
        recipe.image = "/srv/fw.bin";
        recipe.sha256 = "cd34" + std::string(60, '0');
        recipe.station = "line-1";
        recipe.start = start;
        recipe.scanned_serials = true;
        recipe.unit_pattern = "VQ-[0-9]{4}";
        recipe.jig_slots = {{"A", "/dev/vq-test-a"}, {"B", "/dev/vq-test-b"}};
        if (slot_a_by_link) {
            std::filesystem::create_symlink("/dev/null", dir.file("by-path-a"));
            recipe.jig_slots[0].port = dir.file("by-path-a");
        }
        auto store = records::open_sqlite_store(dir.file("records.sqlite"));
        auto passed = test::record("p", today, "VQ-0007");
        passed.slot = "B";
        passed.operator_name = "Ann";
        auto failed = test::record("f", today, "VQ-0008", "failed"), long_ago = test::record("y", "2000-01-01", "VQ-0009");
        failed.exit_status = 1;
        store->put_all(std::vector{passed, failed, long_ago});
        form = std::make_unique<StationForm>(recipe, records::RecordsTarget{records::RecordsTarget::Sqlite, dir.file("records.sqlite")},
                                             *this, [] {}, "Ann",
                                             [this](const cli::PortTarget& t, const cli::RunSettings&, cli::PortOutput& o,
                                                    std::function<void()>) -> std::unique_ptr<SlotRunner> {
                                                 slots.push_back(new FakeSlot(t, o));
                                                 return std::unique_ptr<SlotRunner>(slots.back());
                                             },
                                             std::make_unique<FakePorts>(devices), [this] { return wall_clock; });
        form->start();
    }
    void show_header(const std::string&, const std::string& d) override { detail = d; }
    void show_tile(std::size_t, const Tile&) override {}
    void show_note(const std::string& text) override { note = text; }
    std::optional<std::string> go(std::size_t slot) { return slots[slot]->target.gate->take(); }

    test::TempDir dir;
    const std::string today = records::utc_timestamp(std::chrono::system_clock::now());
    std::time_t wall_clock = std::time(nullptr);
    Recipe recipe;
    std::vector<FakeSlot*> slots;
    std::vector<std::string> devices{"/dev/ttyS0"};
    std::string detail, note;
    std::unique_ptr<StationForm> form;
};

TEST(StationForm, ASerialScannedGoesToTheBoardThatWaitsForItOrIsRefusedSayingWhy) {
    Station station;
    auto& a = *station.slots[0];
    auto& b = *station.slots[1];
    EXPECT_TRUE(station.detail.ends_with("today: passed 1, failed 1, first-pass yield 50%")) << station.detail;
    const struct {
        std::function<void()> before;
        std::string scanned, note;
        std::optional<std::string> a, b;  // the go each slot was given
    } rows[] = {
        {[] {}, "VQ-0001", "no board waits for a serial: plug in a board, then scan its serial", {}, {}},
        {[&] { a.board_in(); }, "vq-1", "\u201Cvq-1\u201D is no serial of this recipe (VQ-[0-9]{4}): nothing started", {}, {}},
        {[] {}, " VQ-0001\r\n", "", "VQ-0001", {}},
        {[&] { a.output.started({.unit = "VQ-0001"}); b.board_in(); }, "VQ-0001",
         "\u201CVQ-0001\u201D is the serial of the board in slot A: nothing started", {}, {}},
        {[] {}, "VQ-0007", "\u201CVQ-0007\u201D passed already, " + station.today.substr(0, 10) + " " +
                               station.today.substr(11, 8) + " UTC at line-1, slot B, by Ann: nothing started", {}, {}},
        {[&] { a.output.ended({}); a.board_in(); }, "VQ-0002", "boards wait in A, B: choose a slot, then scan again", {}, {}},
        {[&] { station.form->choose(1); }, "VQ-0008", "", {}, "VQ-0008"},
    };
    for (const auto& row : rows) {
        row.before();
        station.form->scan(row.scanned);
        EXPECT_EQ(station.note, row.note) << row.scanned;
        EXPECT_EQ(station.go(0), row.a) << row.scanned;
        EXPECT_EQ(station.go(1), row.b) << row.scanned;
    }
    EXPECT_TRUE(station.detail.ends_with("today: passed 2, failed 1, first-pass yield 66%")) << station.detail;
}

TEST(StationForm, ABoardInAPortThatIsNoSlotIsSaidOnceEachTimeItIsPluggedIn) {
    Station station;
    const std::string stray = "a board on /dev/ttyUSB4 is in no slot of this recipe: it is left alone";
    const struct {
        std::vector<std::string> present;
        int looks;
        std::string note;
    } rows[] = {
        {{"/dev/ttyS0", "/dev/vq-test-a"}, 3, ""},
        {{"/dev/ttyS0", "/dev/ttyUSB4"}, 1, ""},  // a slot's links may not be made yet
        {{"/dev/ttyS0", "/dev/ttyUSB4"}, 1, stray},
        {{"/dev/ttyS0"}, 1, ""},
        {{"/dev/ttyS0", "/dev/ttyUSB4"}, 2, stray},
    };
    for (const auto& row : rows) {
        station.devices = row.present;
        for (int i = 0; i < row.looks; ++i) station.form->every_second();
        EXPECT_EQ(station.note, row.note) << row.present.back();
        station.note.clear();
    }
}

TEST(StationForm, AtLocalMidnightTodaysCountsStartAgain) {
    Station station;
    station.wall_clock += 36 * 3600;  // the next day, whatever the clocks did
    station.form->every_second();
    EXPECT_TRUE(station.detail.ends_with("today: passed 0, failed 0")) << station.detail;
    auto& a = *station.slots[0];
    a.board_in();
    station.form->scan("VQ-0001");
    a.output.started({.unit = "VQ-0001"});
    a.output.ended({});
    EXPECT_TRUE(station.detail.ends_with("today: passed 1, failed 0, first-pass yield 100%")) << station.detail;
}

TEST(StationForm, ABoardInASlotNamedByALinkIsNoStray) {
    Station station(Recipe::Start::OnScan, true);
    station.devices = {"/dev/ttyS0", "/dev/null"};
    for (int i = 0; i < 3; ++i) station.form->every_second();
    EXPECT_EQ(station.note, "");
}

TEST(StationForm, WithStartButtonsAScannedBoardWaitsForItsStart) {
    Station station(Recipe::Start::OnButton);
    auto& a = *station.slots[0];
    a.board_in();
    station.form->start_slot(0);
    EXPECT_EQ(station.note, "scan the serial of the board in slot A first");
    station.form->scan("VQ-0003");
    EXPECT_EQ(station.form->tiles()[0]->tile().words, "press Start");
    EXPECT_EQ(station.go(0), std::nullopt) << "not before its Start";
    station.form->start_slot(0);
    EXPECT_EQ(station.go(0), "VQ-0003");
    EXPECT_EQ(station.note, "");
    station.form->scan("VQ-0004");
    a.output.waiting("device", "waiting for a device on /dev/vq-test-a");  // taken away unstarted
    a.board_in();
    station.form->start_slot(0);
    EXPECT_EQ(station.note, "scan the serial of the board in slot A first") << "VQ-0004 was the board's before";
}

}  // namespace
}  // namespace vq::station
