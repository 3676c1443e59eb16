#include "station/station_form.h"

#include <algorithm>

#include "cli/send_ports.h"
#include "protocol/report.h"
#include "protocol/image_file.h"
#include "records/store.h"

namespace vq::station {

std::string tile_caption(Tile::State state) {
    switch (state) {
    case Tile::State::Waiting: return "\u25CB Waiting";
    case Tile::State::Flashing: return "\u21BB Flashing";
    case Tile::State::Passed: return "\u2714 PASS";
    case Tile::State::Failed: return "\u2718 FAIL";
    default: return "\u25A0 Stopped";
    }
}

SlotTile::SlotTile(std::size_t index, std::string slot, std::function<void(std::size_t, const Tile&)> show,
                   std::function<void(bool, const std::string&)> counted)
    : index_(index), show_(std::move(show)), counted_(std::move(counted)) {
    tile_.slot = std::move(slot);
}

void SlotTile::started(const cli::UploadStart& start) {
    tile_ = {Tile::State::Flashing, tile_.slot, "0%", start.unit, 0, false};
    show();
}

void SlotTile::on_phase(Phase phase, int) {
    if (tile_.state != Tile::State::Flashing || tile_.percent > 0) return;
    const char* words = phase == Phase::WakingUp          ? "waking the board"
                        : phase == Phase::WaitingForStart ? "waiting for the board to ask"
                                                          : nullptr;
    if (!words || tile_.words == words) return;
    tile_.words = words;
    show();
}

void SlotTile::on_progress(int percent) {
    if (tile_.state != Tile::State::Flashing || percent == tile_.percent) return;
    tile_.percent = percent;
    tile_.words = std::to_string(percent) + "%";
    show();
}

void SlotTile::waiting(const std::string& what, const std::string& text) {
    (void)text;
    if (what == "removal") {
        tile_.remove = true;  // the result stays in sight until the board goes
    } else if (tile_.state != Tile::State::Waiting) {
        tile_ = {Tile::State::Waiting, tile_.slot, "plug in the next board", {}, 0, false};
    } else {
        tile_.words = "plug in a board";
    }
    show();
}

void SlotTile::ended(const cli::UploadOutcome& outcome) {
    const bool passed = outcome.exit_status == exit_code::kFinished;
    const bool stopped = outcome.exit_status == exit_code::kStopped;
    tile_.state = passed ? Tile::State::Passed : stopped ? Tile::State::Stopped : Tile::State::Failed;
    tile_.percent = passed ? 100 : tile_.percent;
    tile_.words = passed ? std::string() : outcome.ending;
    show();
    if (!stopped) counted_(passed, tile_.unit);
}

cli::RunSettings station_settings(const Recipe& recipe, const records::RecordsTarget& records,
                                  const std::string& operator_name) {
    cli::RunSettings s;
    s.file = recipe.image;
    s.pace = recipe.pace;
    s.protocol = recipe.protocol;
    s.repeat = true;
    s.record = records.kind != records::RecordsTarget::None;
    s.records = records;
    s.spool = records::default_spool_file();
    s.station = recipe.station;
    s.operator_name = operator_name;
    s.stamp = recipe.stamp;
    return s;
}

StationForm::StationForm(Recipe recipe, const records::RecordsTarget& records, StationView& view,
                         std::function<void()> wake, std::string operator_name)
    : recipe_(std::move(recipe)),
      settings_(station_settings(recipe_, records, operator_name)),
      view_(view),
      wake_(std::move(wake)) {}

StationForm::~StationForm() { runs_.clear(); }

void StationForm::start() {
    std::vector<std::string> ports;
    for (const Slot& slot : recipe_.jig_slots) ports.push_back(slot.port);
    std::vector<cli::PortTarget> targets = cli::choose_ports(ports, false);
    for (std::size_t i = 0; i < targets.size(); ++i) {
        targets[i].slot = recipe_.jig_slots[i].name;
        tiles_.push_back(std::make_unique<SlotTile>(
            i, recipe_.jig_slots[i].name, [this](std::size_t at, const Tile& tile) { view_.show_tile(at, tile); },
            [this](bool passed, const std::string& unit) {
                passed ? ++counts_.passed : ++counts_.failed;
                // A unit is one serial; without serials, every board is a unit of its own.
                const bool first = unit.empty() || std::find(units_seen_.begin(), units_seen_.end(), unit) == units_seen_.end();
                if (first) {
                    ++counts_.units;
                    if (passed) ++counts_.first_passed;
                    if (!unit.empty()) units_seen_.push_back(unit);
                }
                show_header();
            }));
        auto run = std::make_unique<cli::PortRun>(targets[i], settings_, wake_);
        run->add_output(tiles_.back().get());
        runs_.push_back(std::move(run));
        view_.show_tile(i, tiles_.back()->tile());
    }
    show_header();
    for (const auto& run : runs_) run->start();
}

void StationForm::deliver() {
    for (const auto& run : runs_) run->deliver();
}

void StationForm::stop(std::size_t slot) {
    if (slot < runs_.size()) runs_[slot]->stop();
}

void StationForm::stop_all() {
    for (const auto& run : runs_) run->stop();
}

void StationForm::show_header() {
    const std::string image = utf8_from_path(path_from_utf8(recipe_.image).filename());
    std::string detail = image + " \u00B7 " + recipe_.sha256.substr(0, 12) +
                         (settings_.operator_name.empty() ? std::string() : " \u00B7 operator " + settings_.operator_name) +
                         " \u00B7 passed " +
                         std::to_string(counts_.passed) + ", failed " + std::to_string(counts_.failed);
    if (counts_.units > 0)
        detail += ", first-pass yield " + std::to_string(100 * counts_.first_passed / counts_.units) + "%";
    view_.show_header(recipe_.name, detail);
}

}  // namespace vq::station
