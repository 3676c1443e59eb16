#include "station/recipe.h"

#include <toml++/toml.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <set>

#include "protocol/image_file.h"
#include "records/file_hash.h"
#include "records/store.h"
#include "protocol/upload.h"

namespace vq::station {
namespace {

// An error in the recipe, at a place of it.
struct Bad {
    std::string text;
};

class Reader {
public:
    Reader(const std::string& path, const toml::table& table) : path_(path), table_(table) {}

    [[noreturn]] void fail(const toml::node* at, const std::string& field, const std::string& what) const {
        const int line = at ? static_cast<int>(at->source().begin.line) : 0;
        throw Bad{path_ + (line ? ":" + std::to_string(line) : std::string()) + ": " + field + ": " + what};
    }

    std::string text(const toml::table& in, const std::string& key, bool required, const std::string& prefix = {}) const {
        const toml::node* node = in.get(key);
        if (!node) {
            if (required) fail(&in, prefix + key, "missing");
            return {};
        }
        const auto value = node->value<std::string>();
        if (!value || value->empty()) fail(node, prefix + key, "must be a string, not empty");
        return *value;
    }

    // Keys the recipe may hold: any other is a slip of the pen.
    void only(const toml::table& in, std::initializer_list<std::string_view> keys, const std::string& prefix = {}) const {
        for (const auto& [key, node] : in)
            if (std::find(keys.begin(), keys.end(), key.str()) == keys.end())
                fail(&node, prefix + std::string(key.str()), "not a field of a recipe");
    }

    std::int64_t number(const toml::table& in, const std::string& key, std::int64_t least, std::int64_t most,
                        const std::string& prefix) const {
        const toml::node* node = in.get(key);
        if (!node) fail(&in, prefix + key, "missing");
        const auto value = node->value<std::int64_t>();
        if (!value || *value < least || *value > most)
            fail(node, prefix + key, "must be a whole number from " + std::to_string(least) + " to " + std::to_string(most));
        return *value;
    }

    const toml::table& table() const { return table_; }

private:
    std::string path_;
    const toml::table& table_;
};

Recipe read(const std::string& path, const toml::table& table) {
    const Reader r(path, table);
    r.only(table, {"name", "image", "sha256", "protocol", "pace", "station", "records", "start", "operator_required",
                   "unit_serial", "slot"});
    Recipe recipe;
    recipe.path = path;
    recipe.name = r.text(table, "name", true);
    const std::string image = r.text(table, "image", true);
    recipe.sha256 = r.text(table, "sha256", true);
    std::transform(recipe.sha256.begin(), recipe.sha256.end(), recipe.sha256.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (recipe.sha256.size() != 64 || recipe.sha256.find_first_not_of("0123456789abcdef") != std::string::npos)
        r.fail(table.get("sha256"), "sha256", "must be 64 hexadecimal digits");
    if (const std::string protocol = r.text(table, "protocol", false); !protocol.empty()) {
        const auto p = protocol_from_word(protocol);
        if (!p) r.fail(table.get("protocol"), "protocol", "\"" + protocol + "\" is none of device, xmodem, xmodem-1k, ymodem");
        recipe.protocol = *p;
    }
    if (const std::string pace = r.text(table, "pace", false); !pace.empty()) {
        if (pace != pace_word(Pace::Fixed) && pace != pace_word(Pace::Reply))
            r.fail(table.get("pace"), "pace", "\"" + pace + "\" is neither fixed nor reply");
        if (pace == pace_word(Pace::Reply) && recipe.protocol != Protocol::Device)
            r.fail(table.get("pace"), "pace", "reply paces the device protocol only");
        recipe.pace = pace == pace_word(Pace::Reply) ? Pace::Reply : Pace::Fixed;
    }
    recipe.station = r.text(table, "station", false);
    recipe.records = r.text(table, "records", false);
    if (!recipe.records.empty()) {
        std::string error;
        if (!records::parse_records_target(recipe.records, &error)) r.fail(table.get("records"), "records", error);
    }
    if (const std::string start = r.text(table, "start", false); !start.empty()) {
        if (start == "on-scan") recipe.start = Recipe::Start::OnScan;
        else if (start == "on-button") recipe.start = Recipe::Start::OnButton;
        else if (start != "on-insertion")
            r.fail(table.get("start"), "start", "\"" + start + "\" is none of on-insertion, on-scan, on-button");
    }
    if (const toml::node* required = table.get("operator_required")) {
        const auto value = required->value<bool>();
        if (!value) r.fail(required, "operator_required", "must be true or false");
        recipe.operator_required = *value;
    }
    if (const toml::node* serial = table.get("unit_serial")) {
        const toml::table* t = serial->as_table();
        if (!t) r.fail(serial, "unit_serial", "must be a table");
        const std::string mode = r.text(*t, "mode", true, "unit_serial.");
        if (mode == "stamp") {
            r.only(*t, {"mode", "offset", "format", "width", "first"}, "unit_serial.");
            SerialStamp stamp;
            stamp.offset = r.number(*t, "offset", 0, kLargestImage, "unit_serial.");
            stamp.width = static_cast<std::size_t>(r.number(*t, "width", 1, 256, "unit_serial."));
            stamp.first = t->get("first") ? r.number(*t, "first", 0, INT64_MAX / 2, "unit_serial.") : 1;
            stamp.format = r.text(*t, "format", true, "unit_serial.");
            std::string error;
            if (!serial_text(stamp, stamp.first, &error)) r.fail(t->get("format"), "unit_serial.format", error);
            if (recipe.records == "none") r.fail(table.get("records"), "records", "stamped serials are counted in the records: not none");
            recipe.stamp = stamp;
        } else if (mode == "scan") {
            r.only(*t, {"mode", "unit_pattern"}, "unit_serial.");
            recipe.scanned_serials = true;
            recipe.unit_pattern = r.text(*t, "unit_pattern", false, "unit_serial.");
            try {
                std::regex(recipe.unit_pattern, std::regex::ECMAScript);
            } catch (const std::regex_error& e) {
                r.fail(t->get("unit_pattern"), "unit_serial.unit_pattern", std::string("not a regular expression: ") + e.what());
            }
        } else if (mode != "none") {
            r.fail(t->get("mode"), "unit_serial.mode", "\"" + mode + "\" is none of none, scan, stamp");
        }
    }
    if (recipe.start == Recipe::Start::OnScan && !recipe.scanned_serials)
        r.fail(table.get("start"), "start", "on-scan starts a board when its serial is scanned: unit_serial.mode = \"scan\"");

    const toml::node* slots = table.get("slot");
    const toml::array* list = slots ? slots->as_array() : nullptr;
    if (!list || list->empty()) r.fail(slots ? slots : &table, "slot", "at least one [[slot]] with a name and a port");
    std::set<std::string> names, ports;
    for (const toml::node& node : *list) {
        const toml::table* t = node.as_table();
        if (!t) r.fail(&node, "slot", "must be a table: [[slot]]");
        r.only(*t, {"name", "port"}, "slot.");
        Slot slot{r.text(*t, "name", true, "slot."), r.text(*t, "port", true, "slot.")};
        if (!names.insert(slot.name).second) r.fail(t->get("name"), "slot.name", "\"" + slot.name + "\" names two slots");
        if (!ports.insert(slot.port).second) r.fail(t->get("port"), "slot.port", "two slots on " + slot.port);
        recipe.jig_slots.push_back(std::move(slot));
    }

    // The image, beside the recipe unless its path is absolute, and the very file the recipe names.
    std::error_code ec;
    auto image_path = path_from_utf8(image);
    if (image_path.is_relative()) image_path = path_from_utf8(path).parent_path() / image_path;
    image_path = std::filesystem::absolute(image_path, ec).lexically_normal();
    recipe.image = utf8_from_path(image_path);
    if (!std::filesystem::is_regular_file(image_path, ec))
        r.fail(table.get("image"), "image", recipe.image + " is not there");
    recipe.image_bytes = static_cast<std::int64_t>(std::filesystem::file_size(image_path, ec));
    const std::string found = records::sha256_of(recipe.image, [] { return true; }).hex;
    if (found != recipe.sha256)
        r.fail(table.get("sha256"), "sha256",
               recipe.image + " has SHA-256 " + (found.empty() ? std::string("unreadable") : found) +
                   ", not the recipe's: it is another file");
    if (recipe.stamp && recipe.stamp->end() > recipe.image_bytes)
        r.fail(table.at_path("unit_serial.offset").node(), "unit_serial.offset",
               "the serial's " + std::to_string(recipe.stamp->width) + " bytes at " +
                   std::to_string(recipe.stamp->offset) + " end past the image's " +
                   std::to_string(recipe.image_bytes) + " bytes");
    return recipe;
}

}  // namespace

std::variant<Recipe, std::string> load_recipe(const std::string& path) {
    toml::table table;
    try {
        table = toml::parse_file(path);
    } catch (const toml::parse_error& e) {
        return path + ":" + std::to_string(e.source().begin.line) + ": " + std::string(e.description());
    }
    try {
        return read(path, table);
    } catch (const Bad& bad) {
        return bad.text;
    }
}

std::variant<StationToRun, std::string> station_to_run(const std::string& recipe_path, const char* records_environment) {
    auto loaded = load_recipe(recipe_path);
    if (auto* error = std::get_if<std::string>(&loaded)) return std::move(*error);
    Recipe& recipe = std::get<Recipe>(loaded);
    std::string error;
    const auto records = records::chosen_records_target(recipe.records, records_environment, &error);
    if (!records) return "records: " + error;
    return StationToRun{std::move(recipe), *records};
}

}  // namespace vq::station
