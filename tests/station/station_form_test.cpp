// A slot's tile follows its uploads: waiting, flashing with its serial,
// PASS or FAIL with the reason, kept in sight until the board is removed.

#include "station/station_form.h"

#include <gtest/gtest.h>

#include "protocol/report.h"

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
        {[&] { tile.started({.unit = "VQ-000041"}); }, Tile::State::Flashing, "0%", false},
        {[&] { tile.on_phase(Phase::WakingUp, 3); }, Tile::State::Flashing, "waking the board", false},
        {[&] { tile.on_progress(51); }, Tile::State::Flashing, "51%", false},
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

}  // namespace
}  // namespace vq::station
