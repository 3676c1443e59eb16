#pragma once
// The station window's behaviour, for every view of it: one tile per slot
// of the recipe, each running the jig's uploads on its own port (the
// threads and the watching for boards that vellquin-send --repeat has),
// and a header with the recipe, its image, and the counts since the
// station started. The operator changes nothing but Stop.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/port_worker.h"
#include "station/recipe.h"

namespace vq::station {

struct Tile {
    enum class State { Waiting, Flashing, Passed, Failed, Stopped };
    State state = State::Waiting;
    std::string slot;    // its name in the recipe
    std::string words;   // what is happening, or why it failed
    std::string unit;    // the serial stamped into the board's image
    int percent = 0;
    bool remove = false;  // the result stays until the board is taken away
};

// The state as a word and a symbol, so that colour is never the only sign.
std::string tile_caption(Tile::State state);

// The station's counts since it started.
struct Counts {
    int passed = 0, failed = 0;
    int first_passed = 0, units = 0;  // units whose first upload passed, of units seen
};

class StationView {
public:
    virtual ~StationView() = default;
    virtual void show_header(const std::string& title, const std::string& detail) = 0;
    virtual void show_tile(std::size_t index, const Tile& tile) = 0;
};

// One slot's reports as its tile.
class SlotTile final : public cli::PortOutput {
public:
    SlotTile(std::size_t index, std::string slot, std::function<void(std::size_t, const Tile&)> show,
             std::function<void(bool passed, const std::string& unit)> counted);
    void started(const cli::UploadStart& start) override;
    void on_phase(Phase phase, int attempt) override;
    void on_progress(int percent) override;
    void waiting(const std::string& what, const std::string& text) override;
    void ended(const cli::UploadOutcome& outcome) override;
    const Tile& tile() const { return tile_; }

private:
    void show() { show_(index_, tile_); }
    std::size_t index_;
    Tile tile_;
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
                std::string operator_name = {});
    ~StationForm();

    void start();
    void deliver();
    void stop(std::size_t slot);
    void stop_all();
    const Counts& counts() const { return counts_; }
    const std::vector<std::unique_ptr<SlotTile>>& tiles() const { return tiles_; }

private:
    void show_header();

    Recipe recipe_;
    cli::RunSettings settings_;
    StationView& view_;
    std::function<void()> wake_;
    Counts counts_;
    std::vector<std::string> units_seen_;
    std::vector<std::unique_ptr<SlotTile>> tiles_;
    std::vector<std::unique_ptr<cli::PortRun>> runs_;
};

}  // namespace vq::station
