#pragma once
// A station's recipe: the TOML file an engineer writes once for a jig, and
// an operator only opens. It fixes the image (and its SHA-256, so that no
// other file is ever sent), the protocol and pacing, where the records go,
// and the jig's slots, each a port.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "protocol/upload.h"
#include "records/store.h"
#include "station/stamp.h"

namespace vq::station {

struct Slot {
    std::string name;
    std::string port;  // a device path (a USB location under /dev/serial/by-path), or COMn
};

struct Recipe {
    std::string path;     // the recipe file itself
    std::string name;
    std::string image;    // absolute
    std::string sha256;   // lowercase; the image's, checked when loaded
    std::int64_t image_bytes = 0;
    Protocol protocol = Protocol::Device;
    Pace pace = Pace::Fixed;
    std::string station;  // empty: the host name
    std::string records;  // a records URL; empty: as the program would keep them
    std::optional<SerialStamp> stamp;  // unit serials stamped into the image
    // When a board in its slot starts: once it is there, once its serial is
    // scanned, or once the operator presses its Start.
    enum class Start { OnInsertion, OnScan, OnButton } start = Start::OnInsertion;
    bool scanned_serials = false;  // each unit's serial is scanned before its upload
    std::string unit_pattern;      // what a scanned serial must match whole; empty: anything
    bool operator_required = false;    // every upload names who ran it
    std::vector<Slot> jig_slots;  // not "slots": Qt takes that word
};

// Reads a recipe and checks it against its image: a recipe that does not
// parse, lacks a field, has a value of the wrong kind or an unknown one,
// names a missing image or one whose SHA-256 is another, or puts two slots
// on one port gives its error instead: "FILE:LINE: field: what is wrong".
// Stamped serials need a place for records: their counter is there.
std::variant<Recipe, std::string> load_recipe(const std::string& path);

// A station window's recipe and where its records go: the recipe's place,
// else `records_environment`'s (VELLQUIN_RECORDS), else the user's file.
struct StationToRun {
    Recipe recipe;
    records::RecordsTarget records;
};
// Or why it cannot be run, in words.
std::variant<StationToRun, std::string> station_to_run(const std::string& recipe_path, const char* records_environment);

}  // namespace vq::station
