#include "cli/records_command.h"

#ifndef VQ_NO_CHARTS
#include <cairo-svg.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>
#endif

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdlib>

#include "cli/json.h"
#include "records/keeper.h"
#include "records/store.h"

namespace vq::cli {
namespace {

using records::RecordQuery;
using records::UploadRecord;
using records::YieldRow;

struct Choices {
    std::string records;
    RecordQuery query;
    std::string serial;
    bool json = false, csv = false;
    std::string by = "day", since, plot;
};

std::string csv_cell(const std::string& text) {
    if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string file_name(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// Columns of text, each as wide as its widest cell, the numbers right.
void print_table(std::FILE* out, const std::vector<std::string>& head, const std::vector<std::vector<std::string>>& rows,
                 const std::vector<bool>& right) {
    std::vector<std::size_t> width(head.size());
    const auto measure = [&](const std::vector<std::string>& row) {
        for (std::size_t i = 0; i < row.size(); ++i) width[i] = std::max(width[i], row[i].size());
    };
    measure(head);
    for (const auto& row : rows) measure(row);
    const auto print = [&](const std::vector<std::string>& row) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            const std::string pad(width[i] - row[i].size(), ' ');
            line += (i ? "  " : "") + (right[i] ? pad + row[i] : row[i] + (i + 1 < row.size() ? pad : ""));
        }
        std::fprintf(out, "%s\n", line.c_str());
    };
    print(head);
    for (const auto& row : rows) print(row);
}

void print_records(std::FILE* out, const std::vector<UploadRecord>& found, const Choices& c) {
    if (c.json) {
        for (const UploadRecord& r : found) {
            JsonLine line;
            for (std::size_t i = 0; i < records::kColumns.size(); ++i) {
                const std::string name(records::kColumns[i]), value = records::field_text(r, i);
                if (!records::numeric_column(i)) line.add(name, value);
                else if (value.find('.') != std::string::npos) line.add(name, std::stod(value));
                else line.add(name, static_cast<std::int64_t>(std::stoll(value)));
            }
            std::fprintf(out, "%s\n", line.text().c_str());
        }
        return;
    }
    if (c.csv) {
        std::string head;
        for (const auto name : records::kColumns) head += (head.empty() ? "" : ",") + std::string(name);
        std::fprintf(out, "%s\n", head.c_str());
        for (const UploadRecord& r : found) {
            std::string line;
            for (std::size_t i = 0; i < records::kColumns.size(); ++i)
                line += (i ? "," : "") + csv_cell(records::field_text(r, i));
            std::fprintf(out, "%s\n", line.c_str());
        }
        return;
    }
    std::vector<std::vector<std::string>> rows;
    for (const UploadRecord& r : found)
        rows.push_back({r.started_at.substr(0, 19), r.unit, r.station, r.port, file_name(r.image_path),
                        r.image_sha256.substr(0, 12), r.outcome, fixed(r.seconds, 1), std::to_string(r.retries)});
    print_table(out, {"started (UTC)", "unit", "station", "port", "image", "sha256", "outcome", "seconds", "retries"},
                rows, {false, false, false, false, false, false, false, true, true});
}

// Bars of first-pass yield per group, as SVG or PNG by the file's ending;
// what went wrong, empty when drawn.
std::string plot_yield(const std::vector<YieldRow>& rows, const std::string& file, const std::string& by) {
#ifdef VQ_NO_CHARTS
    (void)rows, (void)file, (void)by;
    return "this build draws no charts; vellquin-records on Linux does, from the same records";
#else
    const double bar = 36, gap = 12, left = 60, top = 40, height = 240, bottom = 110;
    const double width = left + static_cast<double>(rows.size()) * (bar + gap) + gap + 20;
    const bool svg = file.ends_with(".svg");
    cairo_surface_t* surface =
        svg ? cairo_svg_surface_create(file.c_str(), width, top + height + bottom)
            : cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(width), static_cast<int>(top + height + bottom));
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 12);
    cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
    cairo_move_to(cr, left, 24);
    cairo_show_text(cr, ("First-pass yield by " + by).c_str());
    cairo_set_line_width(cr, 1);
    for (int percent = 0; percent <= 100; percent += 25) {  // the scale
        const double y = top + height * (1 - percent / 100.0);
        cairo_set_source_rgb(cr, 0.85, 0.85, 0.85);
        cairo_move_to(cr, left, y);
        cairo_line_to(cr, width - 10, y);
        cairo_stroke(cr);
        cairo_set_source_rgb(cr, 0.3, 0.3, 0.3);
        cairo_move_to(cr, 16, y + 4);
        cairo_show_text(cr, (std::to_string(percent) + "%").c_str());
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const double x = left + gap + static_cast<double>(i) * (bar + gap), share = rows[i].first_pass_yield();
        cairo_set_source_rgb(cr, 0.16, 0.47, 0.71);
        cairo_rectangle(cr, x, top + height * (1 - share), bar, height * share);
        cairo_fill(cr);
        cairo_save(cr);  // the group's name, turned to fit under its bar
        cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
        cairo_move_to(cr, x + bar / 2 + 4, top + height + 8);
        cairo_rotate(cr, 1.2);
        const std::string label = rows[i].group.size() > 14 ? rows[i].group.substr(0, 12) + ".." : rows[i].group;
        cairo_show_text(cr, label.c_str());
        cairo_restore(cr);
    }
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    const cairo_status_t status = svg ? cairo_surface_status(surface) : cairo_surface_write_to_png(surface, file.c_str());
    cairo_surface_finish(surface);
    const cairo_status_t finished = cairo_surface_status(surface);
    cairo_surface_destroy(surface);
    // The font caches cairo and fontconfig keep for a next drawing: there is none.
    cairo_debug_reset_static_data();
    FcFini();
    if (status != CAIRO_STATUS_SUCCESS) return cairo_status_to_string(status);
    if (finished != CAIRO_STATUS_SUCCESS) return cairo_status_to_string(finished);
    return {};
#endif
}

}  // namespace

int run_records_command(const std::vector<std::string>& arguments, const char* records_env, std::FILE* out,
                        std::FILE* err) {
    CLI::App app("Reads the uploads on record.", "vellquin-records");
    app.set_help_all_flag("", "");
    app.require_subcommand(1);
    Choices c;
    app.add_option("--records", c.records,
                   "Where the records are: sqlite:PATH or a PostgreSQL URI. Default: VELLQUIN_RECORDS, else the "
                   "SQLite file in the user's data folder.")
        ->type_name("URL");
    const auto filters = [&c](CLI::App* command) {
        command->add_option("--unit", c.query.unit, "Only this unit's uploads.")->type_name("SERIAL");
        command->add_option("--image", c.query.image, "Only this image: its SHA-256's beginning, or its file name.")
            ->type_name("SHA256|NAME");
        command->add_option("--station", c.query.station, "Only this station's uploads.")->type_name("NAME");
        command->add_option("--outcome", c.query.outcome, "Only uploads that ended so (finished, failed, ...).")
            ->type_name("WORD");
        command->add_option("--since", c.query.since, "From this day or time (UTC, ISO 8601) on.")->type_name("DATE");
        command->add_option("--until", c.query.until, "Up to this day or time (UTC), that day included.")
            ->type_name("DATE");
        command->add_option("--limit", c.query.limit, "At most N, the newest.")->type_name("N");
    };
    const auto formats = [&c](CLI::App* command) {
        command->add_flag("--json", c.json, "One JSON object a line, every field.");
        command->add_flag("--csv", c.csv, "Comma-separated, with a header line, every field.");
    };
    CLI::App* list = app.add_subcommand("list", "The uploads on record, newest first.");
    filters(list);
    formats(list);
    CLI::App* unit = app.add_subcommand("unit", "The history of one unit: every upload, newest first.");
    unit->add_option("SERIAL", c.serial, "The unit's serial number.")->required();
    formats(unit);
    CLI::App* yield = app.add_subcommand("yield", "Uploads, units, first-pass yield, retries and median seconds.");
    yield->add_option("--by", c.by, "Grouped by image, station, port or day (the default).")
        ->check(CLI::IsMember({"image", "station", "port", "day"}));
    yield->add_option("--since", c.since, "From this day or time (UTC) on.")->type_name("DATE");
    yield->add_option("--plot", c.plot, "Also draws the yield as bars into FILE.svg or FILE.png.")->type_name("FILE");
    CLI::App* sync = app.add_subcommand("sync", "Sends the records kept locally while the server was unreachable.");

    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend() - 1);
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        std::fprintf(out, "%s", app.help().c_str());
        return records_exit::kDone;
    } catch (const CLI::ParseError& e) {
        std::fprintf(err, "vellquin-records: %s\n", e.what());
        return records_exit::kUsage;
    }
    if (c.json && c.csv) {
        std::fprintf(err, "vellquin-records: give --json or --csv, not both\n");
        return records_exit::kUsage;
    }
    if (!c.plot.empty() && !c.plot.ends_with(".svg") && !c.plot.ends_with(".png")) {
        std::fprintf(err, "vellquin-records: --plot names a .svg or .png file\n");
        return records_exit::kUsage;
    }
    std::string error;
    const auto chosen = records::chosen_records_target(c.records, records_env, &error);
    if (!chosen || chosen->kind == records::RecordsTarget::None) {
        std::fprintf(err, "vellquin-records: %s\n", chosen ? "records \"none\" has nothing to read" : error.c_str());
        return records_exit::kUsage;
    }
    const records::RecordsTarget target = *chosen;
    try {
        if (*sync) {
            records::RecordKeeper keeper(target, records::default_spool_file());
            const records::RecordKeeper::Synced s = keeper.sync();
            std::fprintf(out, "sent %d record%s to %s", s.sent, s.sent == 1 ? "" : "s", target.location.c_str());
            if (s.left > 0) std::fprintf(out, "; %d left in the spool: %s", s.left, s.problem.c_str());
            std::fprintf(out, "\n");
            return s.left > 0 ? records_exit::kFailed : records_exit::kDone;
        }
        const auto store = records::open_store(target, false);
        if (*list || *unit) {
            if (*unit) c.query = {.unit = c.serial};
            const std::vector<UploadRecord> found = records::list(*store, c.query);
            if (*unit && !c.json && !c.csv)
                std::fprintf(out, "%s: %zu upload%s\n", c.serial.c_str(), found.size(), found.size() == 1 ? "" : "s");
            print_records(out, found, c);
            return records_exit::kDone;
        }
        const records::YieldBy by = c.by == "image"     ? records::YieldBy::Image
                                    : c.by == "station" ? records::YieldBy::Station
                                    : c.by == "port"    ? records::YieldBy::Port
                                                        : records::YieldBy::Day;
        const std::vector<YieldRow> rows = records::yield(*store, by, c.since);
        std::vector<std::vector<std::string>> table;
        for (const YieldRow& y : rows)
            table.push_back({by == records::YieldBy::Image ? y.group.substr(0, 12) : y.group, std::to_string(y.uploads),
                             std::to_string(y.units), y.units ? fixed(100 * y.first_pass_yield(), 1) + "%" : "-",
                             std::to_string(y.retries), fixed(y.median_seconds, 1)});
        print_table(out, {c.by, "uploads", "units", "first pass", "retries", "median s"}, table,
                    {false, true, true, true, true, true});
        if (!c.plot.empty()) {
            if (const std::string problem = plot_yield(rows, c.plot, c.by); !problem.empty()) {
                std::fprintf(err, "vellquin-records: cannot draw %s: %s\n", c.plot.c_str(), problem.c_str());
                return records_exit::kFailed;
            }
        }
        return records_exit::kDone;
    } catch (const records::StoreError& e) {
        std::fprintf(err, "vellquin-records: %s\n", e.what());
        return e.kind() == records::StoreError::Refused ? records_exit::kNotRecords : records_exit::kFailed;
    }
}

}  // namespace vq::cli
