#pragma once
// Progress of an upload on the command line. On a terminal: one line,
// redrawn at most ten times a second and never wider than the terminal,
// with a bar, the percentage, the block, the speed and the time left.
// Elsewhere: "NN%" on a line of its own each time the percentage changes.

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "protocol/transfer_stats.h"
#include "protocol/upload.h"

namespace vq::cli {

// How a user of the command line gives up a wait that can last for ever.
inline constexpr const char* kStopHint = "Ctrl-C gives up; --timeout SECONDS bounds the wait";

class ProgressPrinter final : public UploadObserver {
public:
    // `columns` gives the terminal's width; null when stdout is no terminal.
    ProgressPrinter(const TransferStats& stats, std::FILE* out, std::function<int()> columns)
        : stats_(stats), out_(out), columns_(std::move(columns)) {}
    ~ProgressPrinter() override { finish(); }

    void on_phase(Phase, int) override { draw(false); }
    void on_progress(int percent) override;
    // Ends the redrawn line, so that other output starts on a line of its own.
    void finish();
    // Ends it with how the upload ended ("Sent 65536 bytes in 64 blocks at
    // 6.1 kB/s") in place of the progress words.
    void conclude(const std::string& ending);

private:
    void draw(bool force);
    void redraw(const std::string& words);

    const TransferStats& stats_;
    std::FILE* out_;
    std::function<int()> columns_;
    bool drawn_ = false;
    int last_printed_ = -1;  // without a terminal
    std::chrono::steady_clock::time_point last_{};
};

// "[######........]  42%  ": a bar of `width` places and the percentage.
std::string bar_and_percent(int percent, int width);

// `line` cut to fit in `columns` - 1 places, so a terminal never wraps it
// (writing into the last column may). UTF-8 aware: a character is a place.
std::string fit_to_width(const std::string& line, int columns);

// `text` after `lead` in lines of at most `columns` - 1 places, broken
// between words; the lines after the first are indented as wide as `lead`.
// A word too long for a line is cut.
std::vector<std::string> wrap_to_width(const std::string& lead, const std::string& text, int columns);

}  // namespace vq::cli
