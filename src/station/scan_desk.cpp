#include "station/scan_desk.h"

#include <algorithm>
#include <string_view>

#include "station/station_form.h"

namespace vq::station {
namespace {

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::string quoted(const std::string& text) { return "\u201C" + text + "\u201D"; }

}  // namespace

ScanDesk::ScanDesk(Recipe recipe, records::RecordsTarget records)
    : recipe_(std::move(recipe)), records_(std::move(records)) {
    if (!recipe_.unit_pattern.empty()) pattern_.emplace(recipe_.unit_pattern);
}

std::shared_ptr<cli::StartGate> ScanDesk::add_slot(SlotTile& tile, const std::string& how_to_start) {
    const bool on_button = recipe_.start == Recipe::Start::OnButton;
    std::shared_ptr<cli::StartGate> gate;
    if (recipe_.scanned_serials)
        gate = std::make_shared<cli::StartGate>(on_button ? "scan the unit's serial, then " + how_to_start
                                                          : "scan the unit's serial");
    else if (on_button)
        gate = std::make_shared<cli::StartGate>(how_to_start);
    tiles_.push_back(&tile);
    gates_.push_back(gate);
    expected_.emplace_back();
    return gate;
}

void ScanDesk::tile_changed(std::size_t slot) {
    // A serial scanned for a board that went is for no other.
    if (slot < tiles_.size() && !tiles_[slot]->tile().asks) expected_[slot].clear();
}

void ScanDesk::choose(std::size_t slot) {
    if (!recipe_.scanned_serials || slot >= tiles_.size() || chosen_ == slot) return;
    if (chosen_) tiles_[*chosen_]->choose(false);
    chosen_ = slot;
    tiles_[slot]->choose(true);
}

std::optional<std::size_t> ScanDesk::slot_for_scan(std::string& why) const {
    std::vector<std::size_t> asking;
    for (std::size_t i = 0; i < tiles_.size(); ++i)
        if (tiles_[i]->tile().asks) asking.push_back(i);
    if (chosen_ && std::find(asking.begin(), asking.end(), *chosen_) != asking.end()) return chosen_;
    if (asking.size() == 1) return asking.front();
    if (asking.empty()) {
        why = "no board waits for a serial: plug in a board, then scan its serial";
        return std::nullopt;
    }
    std::string names;
    for (std::size_t i : asking) names += (names.empty() ? "" : ", ") + tiles_[i]->tile().slot;
    why = "boards wait in " + names + ": choose a slot, then scan again";
    return std::nullopt;
}

std::string ScanDesk::used_by(const std::string& unit) const {
    if (records_.kind == records::RecordsTarget::None) return {};
    const auto store = records::open_store(records_);
    const auto found = records::list(*store, {.unit = unit, .outcome = "finished", .limit = 1});
    if (found.empty()) return {};
    const records::UploadRecord& r = found.front();
    return r.started_at.substr(0, 10) + " " + r.started_at.substr(11, 8) + " UTC at " + r.station +
           (r.slot.empty() ? std::string() : ", slot " + r.slot) +
           (r.operator_name.empty() ? std::string() : ", by " + r.operator_name);
}

std::string ScanDesk::scan(const std::string& text) {
    const std::string unit = trimmed(text);
    if (unit.empty()) return {};
    if (!recipe_.scanned_serials) return quoted(unit) + " was scanned, but this recipe takes no scanned serials: ignored";
    if (!records::valid_unit(unit) || (pattern_ && !std::regex_match(unit, *pattern_)))
        return quoted(unit) + " is no serial of this recipe" +
               (recipe_.unit_pattern.empty() ? std::string() : " (" + recipe_.unit_pattern + ")") + ": nothing started";
    std::string why;
    const auto slot = slot_for_scan(why);
    if (!slot) return why;
    for (std::size_t i = 0; i < tiles_.size(); ++i) {
        const Tile& other = tiles_[i]->tile();
        if (i != *slot && (expected_[i] == unit || (other.unit == unit && other.state == Tile::State::Flashing)))
            return quoted(unit) + " is the serial of the board in slot " + other.slot + ": nothing started";
    }
    try {
        if (const std::string who = used_by(unit); !who.empty())
            return quoted(unit) + " passed already, " + who + ": nothing started";
    } catch (const records::StoreError& e) {
        return quoted(unit) + " cannot be checked against the records, so nothing started: " + e.what();
    }
    if (recipe_.start == Recipe::Start::OnButton) {
        expected_[*slot] = unit;
        tiles_[*slot]->expect(unit, "press Start");
        return {};
    }
    return gates_[*slot]->give(unit) ? std::string()
                                     : "the board in slot " + tiles_[*slot]->tile().slot + " went before its serial: scan again";
}

std::string ScanDesk::start_slot(std::size_t slot) {
    if (slot >= tiles_.size() || !gates_[slot] || recipe_.start != Recipe::Start::OnButton) return {};
    const std::string& name = tiles_[slot]->tile().slot;
    if (!tiles_[slot]->tile().asks) return "no board waits in slot " + name;
    if (recipe_.scanned_serials && expected_[slot].empty()) return "scan the serial of the board in slot " + name + " first";
    const bool given = gates_[slot]->give(expected_[slot]);
    expected_[slot].clear();
    return given ? std::string() : "the board in slot " + name + " went before its Start";
}

std::string ScanDesk::typed(const std::string& line) {
    const std::string text = trimmed(line);
    for (const char* word : {"slot ", "start "}) {
        if (text.rfind(word, 0) != 0) continue;
        const std::string name = trimmed(text.substr(std::string(word).size()));
        const auto at = std::find_if(tiles_.begin(), tiles_.end(), [&](SlotTile* t) { return t->tile().slot == name; });
        if (at == tiles_.end()) return "no slot " + quoted(name) + " in this recipe";
        const auto slot = static_cast<std::size_t>(at - tiles_.begin());
        if (std::string_view(word) == "start ") return start_slot(slot);
        if (!recipe_.scanned_serials) return "this recipe takes no scanned serials";
        choose(slot);
        return "the next scan is for slot " + name;
    }
    return scan(text);
}

}  // namespace vq::station
