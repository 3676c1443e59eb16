// vellquin-send: the window's upload, from the command line, on one port or
// on several at once.

#include <cstdio>
#include <cstdlib>
#include <filesystem>


#include "cli/arguments.h"
#include "cli/outputs.h"
#include "cli/runner.h"
#include "cli/send_options.h"
#include "cli/send_ports.h"
#include "cli/written_files.h"
#include "link/port_map.h"
#include "link/port_sources.h"
#include "protocol/image_file.h"
#include "protocol/report.h"
#include "records/store.h"
#include "station/recipe.h"
#include "station/scan_desk.h"
#include "station/station_form.h"


int main(int argc, char** argv) {
    using namespace vq;
    const cli::ParsedSendOptions parsed = cli::parse_send_options(cli::utf8_arguments(argc, argv));
    cli::SendOptions options = parsed.options;
    if (!parsed.error.empty()) {
        cli::say("", parsed.error);
        return exit_code::kUsage;
    }
    if (options.help) {
        std::printf("%s", cli::send_help().c_str());
        return exit_code::kFinished;
    }
    if (options.version) {
        std::printf("vellquin-send %s\n", VQ_VERSION);
        return exit_code::kFinished;
    }
    if (options.list) {
        for (const std::string& line : cli::describe_ports(PortMap::from_environment_or_system()))
            std::printf("%s\n", line.c_str());
        return exit_code::kFinished;
    }
    std::optional<station::Recipe> recipe_loaded;
    if (!options.recipe.empty()) {
        // A station: the recipe, checked against its image, fixes the rest.
        auto loaded = station::load_recipe(options.recipe);
        if (const auto* error = std::get_if<std::string>(&loaded)) {
            cli::say("", *error);
            return exit_code::kUsage;
        }
        const station::Recipe& recipe = recipe_loaded.emplace(std::move(std::get<station::Recipe>(loaded)));
        if (recipe.operator_required && options.operator_name.empty()) {
            cli::say("", options.recipe + ": the recipe asks who runs the station: --operator NAME");
            return exit_code::kUsage;
        }
        options.file = recipe.image;
        options.protocol = recipe.protocol;
        options.pace = recipe.pace;
        if (options.station.empty()) options.station = recipe.station;
        if (options.records.empty()) options.records = recipe.records;
        std::string slots;
        for (const station::Slot& slot : recipe.jig_slots) {
            options.ports.push_back(slot.port);
            slots += (slots.empty() ? "" : ", ") + slot.name + " on " + slot.port;
        }
        cli::say("", "station \"" + recipe.name + "\": " + utf8_from_path(path_from_utf8(recipe.image).filename()) +
                         " (" + recipe.sha256.substr(0, 12) + "), slots " + slots);
    }
    std::vector<std::string> ports = options.ports;
    if (ports.empty() && !options.all) {
        const cli::DefaultPort meant = cli::default_port(*vq::port_source_from_environment());
        if (!meant.problem.empty()) {
            cli::say("", meant.problem);
            return exit_code::kUsage;
        }
        if (!meant.port.empty()) ports.push_back(meant.port);
    }
    std::vector<cli::PortTarget> targets = cli::choose_ports(ports, options.all);
    if (recipe_loaded)  // in the recipe's order
        for (std::size_t i = 0; i < targets.size() && i < recipe_loaded->jig_slots.size(); ++i)
            targets[i].slot = recipe_loaded->jig_slots[i].name;
    cli::WrittenFiles written{options.file, options.trace, options.log_dir, {}};
    std::vector<std::string> names;
    for (const cli::PortTarget& target : targets) {
        written.port_devices.push_back(target.device());
        names.push_back(target.name);
    }
    if (const std::string twice = cli::same_device_twice(names, written.port_devices); !twice.empty()) {
        cli::say("", twice);
        return exit_code::kUsage;
    }
    if (const std::string clash = cli::clash_of_written_files(written); !clash.empty()) {
        cli::say("", clash);
        return exit_code::kUsage;
    }
    std::error_code ec;
    if (!options.log_dir.empty() && !std::filesystem::is_directory(path_from_utf8(options.log_dir), ec) &&
        !std::filesystem::create_directories(path_from_utf8(options.log_dir), ec)) {
        cli::say("", "cannot make the log folder " + options.log_dir);
        return exit_code::kUsage;
    }
    if (!options.trace.empty()) {
        std::FILE* f = fopen_utf8(options.trace, "w");
        if (!f) {
            cli::say("", "cannot write the trace file " + options.trace);
            return exit_code::kUsage;
        }
        std::fclose(f);
    }

    std::string records_error;
    const auto chosen_records = records::chosen_records_target(options.records, std::getenv("VELLQUIN_RECORDS"), &records_error);
    if (!chosen_records) {
        cli::say("", "VELLQUIN_RECORDS: " + records_error);
        return exit_code::kUsage;
    }
    const records::RecordsTarget records_target = *chosen_records;
    const bool keeps_records = records_target.kind != records::RecordsTarget::None;
    const cli::RunSettings settings{options.file,    options.pace,   options.protocol, options.start_wait,
                                    options.timeout, options.trace,  options.log_dir,  options.repeat,
                                    options.count,   options.json || !options.log_dir.empty() || keeps_records,
                                    options.send_name, options.command, options.prompt,
                                    options.protocol_from_receiver, options.verify_crc32, options.then,
                                    options.fail_on, options.console, records_target,
                                    records::default_spool_file(), options.station, options.operator_name,
                                    options.unit, recipe_loaded ? recipe_loaded->stamp : std::nullopt,
                                    recipe_loaded ? recipe_loaded->sha256 : std::string()};
    const cli::Output output = options.json ? cli::Output::Json : cli::Output::Plain;
    if (!recipe_loaded || (!recipe_loaded->scanned_serials && recipe_loaded->start != station::Recipe::Start::OnButton))
        return cli::run_ports(targets, settings, output);
    // Serials scanned, or Starts pressed, at the terminal: each line on
    // stdin, as the station window's box and buttons take them.
    station::ScanDesk desk(*recipe_loaded, records_target);
    std::vector<std::unique_ptr<station::SlotTile>> tiles;
    cli::TypedLines lines{{}, [&desk](const std::string& line) { return desk.typed(line); }};
    for (std::size_t i = 0; i < targets.size(); ++i) {
        tiles.push_back(std::make_unique<station::SlotTile>(
            i, targets[i].slot, [&desk](std::size_t at, const station::Tile&) { desk.tile_changed(at); },
            [](bool, const std::string&) {}));
        targets[i].gate = desk.add_slot(*tiles.back(), "type: start " + targets[i].slot);
        lines.first.push_back(tiles.back().get());
    }
    return cli::run_ports(targets, settings, output, lines);
}
