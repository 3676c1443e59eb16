#pragma once
// What vellquin-send prints of the ports it runs.
//
// One port: exactly what it has always printed (a redrawn bar on a
// terminal, "NN%" lines elsewhere, the message lines, and the plain endings
// on stderr). Several ports: on a terminal one row per port, redrawn in
// place; elsewhere each line prefixed with its port. With --json: one JSON
// object per event on stdout, and the plain lines on stderr.

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cli/json.h"
#include "cli/port_run.h"
#include "cli/progress_printer.h"
#include "protocol/transfer_stats.h"

namespace vq::cli {

// Now in local time, in strftime's `format`, with milliseconds after it:
// "20261208-091502.311" for "%Y%m%d-%H%M%S".
std::string local_time(const char* format);

// "vellquin-send: COM1: text" on stderr; without the port for one port.
void say(const std::string& prefix, const std::string& text);

// Where plain lines go: say(), unless something holds them back.
using SayTo = std::function<void(const std::string& prefix, const std::string& text)>;

// The endings worth a plain line, the notes and the waits, on stderr.
class EndingLines : public PortOutput {
public:
    explicit EndingLines(std::string prefix, SayTo say_to = &say) : prefix_(std::move(prefix)), say_(std::move(say_to)) {}
    void note(const std::string& text) override { say_(prefix_, text); }
    void waiting(const std::string&, const std::string& text) override { say_(prefix_, text); }
    void ended(const UploadOutcome& outcome) override;

protected:
    std::string prefix_;
    SayTo say_;
};

// One port, as vellquin-send has always printed it.
class SinglePortLines final : public EndingLines {
public:
    // With `console`, the lines the board's console shows are printed too.
    SinglePortLines(const TransferStats& stats, std::function<int()> columns, bool console = false)
        : EndingLines(""), progress_(stats, stdout, std::move(columns)), console_(console) {}
    void on_phase(Phase p, int a) override { progress_.on_phase(p, a); }
    void on_progress(int percent) override { progress_.on_progress(percent); }
    void on_ending(const UploadResult& result) override;
    void message(const std::string& text) override;
    void note(const std::string& text) override;
    void ended(const UploadOutcome& outcome) override;
    void on_console(bool typed, const std::string& text, double time) override;
    // Before anything else is printed: ends the progress line.
    void interrupt() { progress_.finish(); }

private:
    ProgressPrinter progress_;
    bool console_;
};

// Several ports, no terminal: "COM1: 25%", "COM1: Sending Finished!".
class PrefixedLines final : public EndingLines {
public:
    explicit PrefixedLines(const std::string& port) : EndingLines(port), port_(port) {}
    void on_progress(int percent) override;
    void message(const std::string& text) override;

private:
    std::string port_;
};

// Several ports on a terminal: one row each, redrawn in place at most ten
// times a second: the port, its device, a bar, the percentage, the block,
// the speed, the time left; then how it ended, wrapped under the row when
// it is longer than the terminal is wide. Lines for stderr wait until the
// table is final: printed in between, they would shift it.
class PortTable {
public:
    explicit PortTable(std::function<int()> columns, std::FILE* out = stdout)
        : columns_(std::move(columns)), out_(out) {}
    // The row of one port; it reads `stats` when it draws.
    std::unique_ptr<PortOutput> row(const std::string& port, const TransferStats& stats);
    // Where the plain lines of a row's port go meanwhile.
    SayTo held_lines();
    // Draws now, whatever the time.
    void draw();
    // A line under the rows, redrawn with them ("stopping; press Ctrl-C
    // again to quit at once"): printed on its own it would be drawn over.
    void set_note(const std::string& text) {
        note_ = text;
        draw();
    }
    // Draws the table a last time, then says the lines held back.
    void finish(const SayTo& say_to = &say);

private:
    struct Row {
        std::string port, device, ending, waiting;
        const TransferStats* stats;
        bool started = false;
    };
    class RowOutput;
    void changed();
    std::vector<std::string> lines(const Row& row) const;

    std::function<int()> columns_;
    std::FILE* out_;
    std::vector<Row> rows_;
    std::vector<std::pair<std::string, std::string>> held_;
    std::string note_;
    int drawn_lines_ = 0;
    std::chrono::steady_clock::time_point last_{};
};

// JSON Lines: "start", "phase", "progress" (at most ten a second), "pacing"
// and "end" for each upload.
class JsonEvents final : public PortOutput {
public:
    JsonEvents(std::string port, std::string file, const TransferStats& stats, std::FILE* out = stdout)
        : port_(std::move(port)), file_(std::move(file)), stats_(stats), out_(out) {}
    void started(const UploadStart& s) override;
    void on_phase(Phase p, int attempt) override;
    void on_progress(int percent) override;
    void on_pacing(Pace p, const std::string& why) override;
    void waiting(const std::string& what, const std::string& text) override;
    void hashing() override;
    void message(const std::string& text) override { message_ = text; }
    void ended(const UploadOutcome& outcome) override;

private:
    JsonLine event(const char* name) const;
    std::string port_, file_;
    const TransferStats& stats_;
    std::FILE* out_;
    std::string message_;
    std::chrono::steady_clock::time_point last_progress_{};
};

// One line on stdout. Lines that need not be read at once (phases,
// progress) are flushed by the runner, at most ten times a second.
void print_json(const JsonLine& line, bool flush, std::FILE* out = stdout);

// summary.csv in the log folder: one line per upload, a header when the
// file is new. Written from the main thread only, one whole line at a time.
class SummaryCsv final : public PortOutput {
public:
    SummaryCsv(std::string dir, std::string port, std::string file) : dir_(std::move(dir)), port_(std::move(port)), file_(std::move(file)) {}
    void started(const UploadStart& s) override { start_ = s; }
    void ended(const UploadOutcome& outcome) override;

private:
    std::string dir_, port_, file_;
    UploadStart start_;
};

// A field of a CSV line, quoted when it must be.
std::string csv_field(const std::string& text);

}  // namespace vq::cli
