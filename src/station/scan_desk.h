#pragma once
// Where a scanned serial or a slot's Start goes, for the station window and
// for vellquin-send --recipe alike: to the board in place that waits for
// it, or nowhere, with the reason why. Each call answers with the line to
// show the operator; empty when there is nothing to say.

#include <cstddef>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "cli/start_gate.h"
#include "records/store.h"
#include "station/recipe.h"

namespace vq::station {

class SlotTile;

class ScanDesk {
public:
    // The recipe's unit_pattern must be a regular expression, as a loaded
    // recipe's is.
    ScanDesk(Recipe recipe, records::RecordsTarget records);

    // A slot, as its tile follows it, added in the recipe's order. Answers
    // the gate its boards wait at (null: they start by themselves);
    // `how_to_start` tells the operator how to give a Start ("press Start").
    std::shared_ptr<cli::StartGate> add_slot(SlotTile& tile, const std::string& how_to_start);
    // From the slot's tile whenever it changes.
    void tile_changed(std::size_t slot);

    // What a scanner typed, up to its Enter: the serial of the board that
    // waits for one, or of the chosen slot's when several do.
    std::string scan(const std::string& text);
    // The operator's slot for the next scan, when serials are scanned.
    void choose(std::size_t slot);
    // A slot's Start, when the recipe starts boards on a button.
    std::string start_slot(std::size_t slot);
    // A line typed at a terminal: "slot A" chooses slot A, "start A" is its
    // Start, and anything else is a scan.
    std::string typed(const std::string& line);

private:
    // Who flashed `unit` already, in words; empty when nobody did.
    std::string used_by(const std::string& unit) const;
    // The slot a scan is for; nullopt with `why` set when none.
    std::optional<std::size_t> slot_for_scan(std::string& why) const;

    Recipe recipe_;
    records::RecordsTarget records_;
    std::optional<std::regex> pattern_;  // what a serial must match whole
    std::vector<SlotTile*> tiles_;
    std::vector<std::shared_ptr<cli::StartGate>> gates_;
    std::vector<std::string> expected_;  // scanned, until its Start
    std::optional<std::size_t> chosen_;
};

}  // namespace vq::station
