#include "station/station_form.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>

#include "cli/send_ports.h"
#include "cli/written_files.h"
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

std::uint32_t tile_colour(Tile::State state) {
    switch (state) {
    case Tile::State::Flashing: return 0x1f5fa8;
    case Tile::State::Passed: return 0x1e7d32;
    case Tile::State::Failed: return 0xb3261e;
    default: return 0x5f6368;
    }
}

std::vector<std::string> tile_lines(const Tile& tile) {
    std::vector<std::string> lines;
    if (!tile.words.empty()) lines.push_back(tile.words);
    if (tile.remove) lines.push_back("remove the board");
    if (tile.chosen) lines.push_back("\u25B6 the next scan is for this slot");
    return lines;
}

SlotTile::SlotTile(std::size_t index, std::string slot, std::function<void(std::size_t, const Tile&)> show,
                   std::function<void(bool, const std::string&)> counted)
    : index_(index), show_(std::move(show)), counted_(std::move(counted)) {
    tile_.slot = std::move(slot);
}

void SlotTile::started(const cli::UploadStart& start) {
    tile_ = {Tile::State::Flashing, tile_.slot, "0%", start.unit, 0, false, false, tile_.chosen};
    stats_ = TransferStats();
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
    if (const auto left = stats_.seconds_left(); left && percent < 100) tile_.words += " \u00B7 " + format_duration(*left) + " left";
    show();
}

void SlotTile::on_block(std::int32_t index, std::int32_t total, std::uint8_t number) {
    stats_.on_block(index, total, number);
}

void SlotTile::on_transmission(Transmission kind, std::span<const std::uint8_t> frame, double time) {
    stats_.on_transmission(kind, frame, time);
}

void SlotTile::on_reply(const Reply& reply, double time) { stats_.on_reply(reply, time); }

void SlotTile::waiting(const std::string& what, const std::string& text) {
    const bool chosen = tile_.chosen;
    if (what == "go") {
        tile_ = {Tile::State::Waiting, tile_.slot, text, {}, 0, false, true, chosen};
    } else if (what == "opening") {
        tile_ = {Tile::State::Waiting, tile_.slot, text, {}, 0, false, false, chosen};
    } else if (what == "removal") {
        tile_.remove = true;  // the result stays in sight until the board goes
    } else if (tile_.state != Tile::State::Waiting) {
        tile_ = {Tile::State::Waiting, tile_.slot, "plug in the next board", {}, 0, false, false, chosen};
    } else {
        tile_ = {Tile::State::Waiting, tile_.slot, "plug in a board", {}, 0, false, false, chosen};
    }
    show();
}

void SlotTile::choose(bool chosen) {
    tile_.chosen = chosen;
    show();
}

void SlotTile::expect(const std::string& unit, const std::string& words) {
    tile_.unit = unit;
    tile_.words = words;
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
    s.image_sha256 = recipe.sha256;
    return s;
}

namespace {

class JigRunner final : public SlotRunner {
public:
    JigRunner(const cli::PortTarget& target, const cli::RunSettings& settings, cli::PortOutput& output,
              std::function<void()> wake)
        : run_(target, settings, std::move(wake)) {
        run_.add_output(&output);
    }
    void start() override { run_.start(); }
    void deliver() override { run_.deliver(); }
    void stop() override { run_.stop(); }

private:
    cli::PortRun run_;
};

// The local date of `now`, as yyyy-mm-dd.
std::string local_date(std::time_t now) {
    const std::tm local = records::local_calendar(now);
    char date[16];
    std::strftime(date, sizeof date, "%Y-%m-%d", &local);
    return date;
}

// Local midnight before `now` as the records' UTC timestamps are written.
std::string start_of_day(std::time_t now) {
    std::tm local = records::local_calendar(now);
    local.tm_hour = local.tm_min = local.tm_sec = 0;
    local.tm_isdst = -1;
    return records::utc_timestamp(std::chrono::system_clock::from_time_t(std::mktime(&local)));
}

}  // namespace

SlotRunners jig_runners() {
    return [](const cli::PortTarget& target, const cli::RunSettings& settings, cli::PortOutput& output,
              std::function<void()> wake) -> std::unique_ptr<SlotRunner> {
        return std::make_unique<JigRunner>(target, settings, output, std::move(wake));
    };
}

StationForm::StationForm(Recipe recipe, const records::RecordsTarget& records, StationView& view,
                         std::function<void()> wake, std::string operator_name, SlotRunners runners,
                         std::unique_ptr<PortSource> ports, std::function<std::time_t()> wall_clock)
    : recipe_(std::move(recipe)),
      settings_(station_settings(recipe_, records, operator_name)),
      view_(view),
      wake_(std::move(wake)),
      runners_(std::move(runners)),
      wall_clock_(std::move(wall_clock)),
      desk_(recipe_, records),
      ports_(std::move(ports)) {}

StationForm::~StationForm() { runs_.clear(); }

void StationForm::start() {
    std::vector<std::string> ports;
    for (const Slot& slot : recipe_.jig_slots) ports.push_back(slot.port);
    std::vector<cli::PortTarget> targets = cli::choose_ports(ports, false);
    count_today();
    for (const PortInfo& port : ports_->present()) known_ports_.push_back(port.device);
    for (std::size_t i = 0; i < targets.size(); ++i) {
        targets[i].slot = recipe_.jig_slots[i].name;
        tiles_.push_back(std::make_unique<SlotTile>(
            i, recipe_.jig_slots[i].name,
            [this](std::size_t at, const Tile& tile) {
                desk_.tile_changed(at);
                view_.show_tile(at, tile);
            },
            [this](bool passed, const std::string& unit) {
                counted(passed, unit);
                show_header();
            }));
        targets[i].gate = desk_.add_slot(*tiles_.back(), "press Start");
        runs_.push_back(runners_(targets[i], settings_, *tiles_.back(), wake_));
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

void StationForm::note(const std::string& text) { view_.show_note(text); }

void StationForm::scan(const std::string& text) { note(desk_.scan(text)); }

void StationForm::choose(std::size_t slot) { desk_.choose(slot); }

void StationForm::start_slot(std::size_t slot) { note(desk_.start_slot(slot)); }

namespace {

// Whether a listed device is the port a slot names: the same name (COM
// names in any case), or the same device behind a link.
bool same_port(const std::string& device, const std::string& slot) {
    if (device == slot) return true;
    if (cli::is_com_name(device) && cli::is_com_name(slot))
        return std::equal(device.begin(), device.end(), slot.begin(), slot.end(),
                          [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b)); });
    return cli::same_file(device, slot);
}

}  // namespace

void StationForm::every_second() {
    look_for_strays();
    if (local_date(wall_clock_()) == today_) return;
    counts_ = {};
    units_seen_.clear();
    count_today();
    show_header();
}

void StationForm::look_for_strays() {
    std::vector<std::string> now;
    for (const PortInfo& port : ports_->present()) now.push_back(port.device);
    // A stray taken away is said again when it comes back.
    const auto gone = [&](const std::string& d) { return std::find(now.begin(), now.end(), d) == now.end(); };
    std::erase_if(known_ports_, gone);
    std::vector<std::string> seen_once;
    for (const std::string& device : now) {
        if (std::find(known_ports_.begin(), known_ports_.end(), device) != known_ports_.end()) continue;
        if (std::any_of(recipe_.jig_slots.begin(), recipe_.jig_slots.end(),
                        [&](const Slot& slot) { return same_port(device, slot.port); }))
            continue;
        // Seen at two looks, so that a slot's board whose links udev has
        // not made yet is not taken for a stray.
        if (std::find(strays_seen_.begin(), strays_seen_.end(), device) == strays_seen_.end()) {
            seen_once.push_back(device);
            continue;
        }
        known_ports_.push_back(device);
        note("a board on " + device + " is in no slot of this recipe: it is left alone");
    }
    strays_seen_ = std::move(seen_once);
}

void StationForm::counted(bool passed, const std::string& unit) {
    passed ? ++counts_.passed : ++counts_.failed;
    // A unit is one serial; without serials, every board is a unit of its own.
    const bool first = unit.empty() || std::find(units_seen_.begin(), units_seen_.end(), unit) == units_seen_.end();
    if (first) {
        ++counts_.units;
        if (passed) ++counts_.first_passed;
        if (!unit.empty()) units_seen_.push_back(unit);
    }
}

void StationForm::count_today() {
    const std::time_t now = wall_clock_();
    // Without records to read, the counts are the station's own.
    counted_since_ = today_.empty() ? "since start" : "since midnight";
    today_ = local_date(now);
    if (settings_.records.kind == records::RecordsTarget::None) return;
    std::vector<records::UploadRecord> today;
    try {
        const auto store = records::open_store(settings_.records);
        today = records::list(*store, {.image = recipe_.sha256,
                                       .station = settings_.station.empty() ? records::host_name() : settings_.station,
                                       .since = start_of_day(now)});
    } catch (const records::StoreError&) {
        return;
    }
    counted_since_ = "today";
    // Oldest first, so that a unit's first upload is counted as its first.
    for (auto r = today.rbegin(); r != today.rend(); ++r)
        if (r->exit_status != exit_code::kStopped && r->outcome != records::kOpeningOutcome)
            counted(r->exit_status == exit_code::kFinished, r->unit);
}

void StationForm::show_header() {
    const std::string image = utf8_from_path(path_from_utf8(recipe_.image).filename());
    std::string detail = image + " \u00B7 " + recipe_.sha256.substr(0, 12) +
                         (settings_.operator_name.empty() ? std::string() : " \u00B7 operator " + settings_.operator_name) +
                         " \u00B7 " + counted_since_ + ": passed " + std::to_string(counts_.passed) + ", failed " +
                         std::to_string(counts_.failed);
    if (counts_.units > 0)
        detail += ", first-pass yield " + std::to_string(100 * counts_.first_passed / counts_.units) + "%";
    view_.show_header(recipe_.name, detail);
}

}  // namespace vq::station
