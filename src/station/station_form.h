#pragma once
// The station window's behaviour, for every view of it: one tile per slot
// of the recipe, each running the jig's uploads on its own port (the
// threads and the watching for boards that vellquin-send --repeat has),
// and a header with the recipe, its image, and today's counts. The
// operator changes nothing: they scan, Start and Stop.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/port_worker.h"
#include "link/port_sources.h"
#include "protocol/transfer_stats.h"
#include "station/recipe.h"
#include "station/scan_desk.h"

namespace vq::station {

struct Tile {
    enum class State { Waiting, Flashing, Passed, Failed, Stopped };
    State state = State::Waiting;
    std::string slot;    // its name in the recipe
    std::string words;   // what is happening, or why it failed
    std::string unit;    // the unit's serial, stamped or scanned
    int percent = 0;
    bool remove = false;  // the result stays until the board is taken away
    bool asks = false;    // a board is in place and waits for its serial or its Start
    bool chosen = false;  // the operator's choice for the next scan
};

// The state as a word and a symbol, so that colour is never the only sign.
std::string tile_caption(Tile::State state);
// The tile's colour, as 0xRRGGBB: grey waiting, blue flashing, green
// pass, red fail.
std::uint32_t tile_colour(Tile::State state);
// The small lines under the state and serial: what is happening, and what
// the operator is to do; none of them empty.
std::vector<std::string> tile_lines(const Tile& tile);

// The station's counts of today's uploads of the recipe's image, or of
// those since it started (or since midnight) when the records cannot tell.
struct Counts {
    int passed = 0, failed = 0;
    int first_passed = 0, units = 0;  // units whose first upload passed, of units seen
};

class StationView {
public:
    virtual ~StationView() = default;
    virtual void show_header(const std::string& title, const std::string& detail) = 0;
    virtual void show_tile(std::size_t index, const Tile& tile) = 0;
    // A line for the operator about what they did: a scan refused, a board
    // in no slot. Empty: none.
    virtual void show_note(const std::string& text) = 0;
};

// One slot's uploads as the form runs them: the jig's thread of
// vellquin-send --repeat, or a fake in tests.
class SlotRunner {
public:
    virtual ~SlotRunner() = default;
    virtual void start() = 0;
    // In the view's thread: hands what the slot reported to its output.
    virtual void deliver() = 0;
    virtual void stop() = 0;
};
// Makes a slot's runner reporting to `output`; `wake` as the form's.
using SlotRunners = std::function<std::unique_ptr<SlotRunner>(
    const cli::PortTarget&, const cli::RunSettings&, cli::PortOutput& output, std::function<void()> wake)>;
// Each slot on a thread of its own, with its own port.
SlotRunners jig_runners();

// One slot's reports as its tile.
class SlotTile final : public cli::PortOutput {
public:
    SlotTile(std::size_t index, std::string slot, std::function<void(std::size_t, const Tile&)> show,
             std::function<void(bool passed, const std::string& unit)> counted);
    void started(const cli::UploadStart& start) override;
    void on_phase(Phase phase, int attempt) override;
    void on_progress(int percent) override;
    // What the time left is reckoned from.
    void on_block(std::int32_t index, std::int32_t total, std::uint8_t number) override;
    void on_transmission(Transmission kind, std::span<const std::uint8_t> frame, double time) override;
    void on_reply(const Reply& reply, double time) override;
    void waiting(const std::string& what, const std::string& text) override;
    void ended(const cli::UploadOutcome& outcome) override;
    const Tile& tile() const { return tile_; }
    // The form's marks: the operator's choice, and a serial scanned for
    // the board in place that waits for its Start.
    void choose(bool chosen);
    void expect(const std::string& unit, const std::string& words);

private:
    void show() { show_(index_, tile_); }
    std::size_t index_;
    Tile tile_;
    TransferStats stats_;  // of the upload under way
    std::function<void(std::size_t, const Tile&)> show_;
    std::function<void(bool, const std::string&)> counted_;
};

// The settings of every slot's uploads, from the recipe: the image, the
// protocol and pacing, the station, the serials, and where records go.
cli::RunSettings station_settings(const Recipe& recipe, const records::RecordsTarget& records,
                                  const std::string& operator_name);

class StationForm {
public:
    // `wake` is called from the slots' threads; the view then calls
    // deliver() on its own thread.
    // `operator_name` is on every record and in the header.
    StationForm(Recipe recipe, const records::RecordsTarget& records, StationView& view, std::function<void()> wake,
                std::string operator_name = {}, SlotRunners runners = jig_runners(),
                std::unique_ptr<PortSource> ports = port_source_from_environment(),
                std::function<std::time_t()> wall_clock = [] { return std::time(nullptr); });
    ~StationForm();

    void start();
    void deliver();
    void stop(std::size_t slot);
    void stop_all();
    // What a scanner typed, up to its Enter: the serial of the board that
    // waits for one, or of the chosen slot's when several do.
    void scan(const std::string& text);
    // The operator's slot for the next scan, when serials are scanned.
    void choose(std::size_t slot);
    // A slot's Start, when the recipe starts boards on a button.
    void start_slot(std::size_t slot);
    // Called by the view every second: a board plugged in since the start
    // into a port that is no slot's is left alone, and said so once; at
    // local midnight today's counts start again.
    void every_second();
    const Counts& counts() const { return counts_; }
    const std::vector<std::unique_ptr<SlotTile>>& tiles() const { return tiles_; }

private:
    void show_header();
    // An upload that passed or failed, of `unit` (empty: a unit of its own).
    void counted(bool passed, const std::string& unit);
    void look_for_strays();
    // Today's uploads of this station and image, from the records.
    void count_today();
    void note(const std::string& text);

    Recipe recipe_;
    cli::RunSettings settings_;
    StationView& view_;
    std::function<void()> wake_;
    SlotRunners runners_;
    Counts counts_;
    std::string counted_since_ = "since start";
    std::function<std::time_t()> wall_clock_;
    std::string today_;  // the local date the counts began on
    std::vector<std::string> units_seen_;
    std::vector<std::unique_ptr<SlotTile>> tiles_;
    ScanDesk desk_;
    std::unique_ptr<PortSource> ports_;
    std::vector<std::string> known_ports_;  // there at the start, or said already
    std::vector<std::string> strays_seen_;  // in no slot at the last look
    std::vector<std::unique_ptr<SlotRunner>> runs_;
};

}  // namespace vq::station
