#include "cli/progress_printer.h"

#include "protocol/report.h"

namespace vq::cli {

std::string fit_to_width(const std::string& line, int columns) {
    const int room = std::max(columns - 1, 0);
    int places = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const bool starts_character = (static_cast<unsigned char>(line[i]) & 0xC0) != 0x80;
        if (starts_character && places++ == room) return line.substr(0, i);
    }
    return line;
}

namespace {
std::size_t places_of(const std::string& text) {
    std::size_t places = 0;
    for (char ch : text) places += (static_cast<unsigned char>(ch) & 0xC0) != 0x80;
    return places;
}
}  // namespace

std::vector<std::string> wrap_to_width(const std::string& lead, const std::string& text, int columns) {
    const std::size_t room = static_cast<std::size_t>(std::max(columns - 1, 1));
    const std::string indent(places_of(lead), ' ');
    std::vector<std::string> lines{lead};
    bool line_has_word = false;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find(' ', at), text.size());
        const std::string word = text.substr(at, end - at);
        at = end + 1;
        if (word.empty()) continue;
        if (line_has_word && places_of(lines.back()) + 1 + places_of(word) > room) lines.push_back(indent);
        else if (line_has_word) lines.back() += ' ';
        lines.back() += word;
        line_has_word = true;
    }
    for (std::string& line : lines) line = fit_to_width(line, columns);
    return lines;
}

std::string bar_and_percent(int percent, int width) {
    const auto filled = static_cast<std::size_t>(percent * width / 100);
    char number[16];
    std::snprintf(number, sizeof number, " %3d%%  ", percent);
    return "[" + std::string(filled, '#') + std::string(static_cast<std::size_t>(width) - filled, '.') + "]" + number;
}

void ProgressPrinter::on_progress(int percent) {
    if (!columns_) {
        // A line when the percentage changes: a log of 100 MiB stays short.
        if (percent == last_printed_) return;
        last_printed_ = percent;
        std::fprintf(out_, "%d%%\n", percent);
        std::fflush(out_);
        return;
    }
    draw(percent == 100);
}

void ProgressPrinter::finish() {
    last_printed_ = -1;
    if (drawn_) std::fputs("\n", out_);
    drawn_ = false;
    std::fflush(out_);
}

void ProgressPrinter::conclude(const std::string& ending) {
    if (columns_ && drawn_) redraw(ending);
    finish();
}

// The bar and percentage once a block was built, then `words`.
void ProgressPrinter::redraw(const std::string& words) {
    const std::string bar = stats_.block_index() >= 0 ? bar_and_percent(stats_.percent(), 30) : std::string();
    std::fprintf(out_, "\r%s\033[K", fit_to_width(bar + words, columns_()).c_str());
    std::fflush(out_);
}

void ProgressPrinter::draw(bool force) {
    if (!columns_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && drawn_ && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    // The status line's own words: the phase, or the block with speed and
    // time left.
    redraw(describe_progress(stats_, kStopHint));
    drawn_ = true;
}

}  // namespace vq::cli
