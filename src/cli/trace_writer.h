#pragma once
// --trace: a header that says what was sent where, a timestamped line for
// every transmission and every reply read, and the outcome at the end.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "protocol/upload.h"

namespace vq::cli {

struct TraceHeader {
    std::string program;      // "vellquin-send 1.0.0"
    std::string port;         // the choice, "COM1"
    std::string device;       // what it stands for, "/dev/ttyUSB0"; may be empty
    std::string file;
    std::int64_t size = -1;   // -1 when the file cannot be found
    std::vector<std::string> more = {};  // further header lines
    Protocol protocol = Protocol::Device;
};

class TraceWriter final : public UploadObserver {
public:
    // Takes `file` over and writes the header at once.
    TraceWriter(std::FILE* file, const TraceHeader& header);
    ~TraceWriter() override { std::fclose(file_); }
    TraceWriter(const TraceWriter&) = delete;
    TraceWriter& operator=(const TraceWriter&) = delete;

    void on_block(std::int32_t index, std::int32_t total, std::uint8_t number) override;
    void on_transmission(Transmission kind, std::span<const std::uint8_t> frame, double time) override;
    void on_reply(const Reply& reply, double time) override;
    void on_pacing(Pace pace, const std::string& why) override;
    void on_check(Check check, std::size_t block_size) override;
    void on_hint(Hint hint) override;
    void on_console(bool typed, const std::string& text, double time) override;
    // Times are counted from `time`, the upload's start (the port's
    // opening), so that a long wait for the first byte shows. Without it
    // they count from the first line.
    void start_clock(double time) { start_ = time; }
    // The last line: how the upload ended and the exit status it gave.
    void finish(const UploadResult& result, const std::string& ending, int exit_status);

private:
    static std::string check_words(std::span<const std::uint8_t> frame);
    void line(double time, const std::string& text);
    // Text the other end printed (a bootloader's "## Total Size = ...") is
    // gathered into one line per line it printed.
    void flush_text();
    std::FILE* file_;
    Protocol protocol_;  // as chosen
    std::string text_;
    double text_time_ = 0;
    std::optional<double> start_;
    std::int32_t block_index_ = -1;
};

}  // namespace vq::cli
