#include "cli/trace_writer.h"

#include "protocol/frame.h"
#include "protocol/report.h"

namespace vq::cli {

TraceWriter::TraceWriter(std::FILE* file, const TraceHeader& h) : file_(file), protocol_(h.protocol) {
    std::fprintf(file_, "# %s\n", h.program.c_str());
    std::fprintf(file_, "# port %s%s\n", h.port.c_str(), h.device.empty() ? "" : (" = " + h.device).c_str());
    std::fprintf(file_, "# file %s, %s\n", h.file.c_str(),
                 h.size < 0 ? "not found" : describe_size(h.size, block_size_of(h.protocol)).c_str());
    if (h.protocol != Protocol::Device) std::fprintf(file_, "# protocol %s\n", protocol_word(h.protocol));
    for (const std::string& line : h.more) std::fprintf(file_, "# %s\n", line.c_str());
    std::fflush(file_);
}

void TraceWriter::on_block(std::int32_t index, std::int32_t, std::uint8_t) { block_index_ = index; }

void TraceWriter::on_transmission(Transmission kind, std::span<const std::uint8_t> f, double time) {
    flush_text();
    char text[96];
    switch (kind) {
    case Transmission::WakeUp: std::snprintf(text, sizeof text, "send wake-up"); break;
    case Transmission::Data:
        // The number on the wire wraps after 255; the block's place in the image does not.
        std::snprintf(text, sizeof text, "send block %d (number %u) %s", block_index_ + 1, f[1], check_words(f).c_str());
        break;
    case Transmission::Header:
        std::snprintf(text, sizeof text, "send block 0, %s, %s", f[3] ? "the file's name and size" : "empty: the batch ends",
                      check_words(f).c_str());
        break;
    case Transmission::Cancel: std::snprintf(text, sizeof text, "send CAN"); break;
    case Transmission::EndOfTransmission: std::snprintf(text, sizeof text, "send EOT"); break;
    }
    line(time, text);
}

// The check after the data: the CRC-16 (the device's frame has one more
// byte after it), or the 8-bit sum.
std::string TraceWriter::check_words(std::span<const std::uint8_t> f) {
    const std::size_t at = 3 + data_size_of(f);
    char text[32] = "";
    if (f.size() >= at + 2)
        std::snprintf(text, sizeof text, "crc 0x%02X%02X", f[at], f[at + 1]);
    else if (f.size() == at + 1)
        std::snprintf(text, sizeof text, "sum 0x%02X", f[at]);
    return text;
}

void TraceWriter::on_check(Check check, std::size_t block_size) {
    const bool fallen_back = block_size != block_size_of(protocol_);
    std::fprintf(file_, "# %zu-byte blocks checked by %s, as the receiver asked%s\n", block_size,
                 check == Check::Crc16 ? "CRC-16" : "the 8-bit sum",
                 fallen_back ? " (1024-byte blocks go only with CRC-16)" : "");
}

void TraceWriter::on_hint(Hint hint) { std::fprintf(file_, "# %s\n", hint_words(hint).c_str()); }

void TraceWriter::on_console(bool typed, const std::string& text, double time) {
    flush_text();
    line(time, (typed ? "type \"" : "console \"") + text + "\"");
}

void TraceWriter::on_reply(const Reply& r, double time) {
    // A 'C' is read as a request, never as text: it is one to the upload.
    const bool printable = r.byte && r.code == kNoAnswer && ((*r.byte >= 0x20 && *r.byte < 0x7F) || *r.byte == '\t');
    const bool line_end = r.byte && (*r.byte == '\r' || *r.byte == '\n');
    if (printable || (line_end && !text_.empty())) {
        if (text_.empty()) text_time_ = time;
        if (line_end || text_.size() >= 160) return flush_text();
        text_ += static_cast<char>(*r.byte);
        return;
    }
    flush_text();
    if (line_end) return;  // an empty line
    static const char* codes[] = {"start request", "ACK", "NAK", "CAN", "no usable answer"};
    char text[96];
    if (r.byte)
        std::snprintf(text, sizeof text, "read 0x%02X %s", *r.byte, codes[r.code]);
    else
        std::snprintf(text, sizeof text, "read nothing");
    line(time, text);
}

void TraceWriter::on_pacing(Pace pace, const std::string& why) {
    if (pace == Pace::Reply)
        std::fprintf(file_, "# paced by replies: each answer is read as soon as it arrives\n");
    else
        std::fprintf(file_, "# fixed pacing from here on: %s\n", why.c_str());
}

void TraceWriter::flush_text() {
    if (text_.empty()) return;
    line(text_time_, "read text \"" + text_ + "\"");
    text_.clear();
}

void TraceWriter::finish(const UploadResult& result, const std::string& ending, int exit_status) {
    flush_text();
    std::fprintf(file_, "# outcome %s: %s (exit status %d)\n", to_string(result.end), ending.c_str(), exit_status);
    // The system's own words, which the ending may have put plainer.
    if (result.end == UploadEnd::Failed && !result.error_text.empty())
        std::fprintf(file_, "# error %d: %s\n", result.error_number, result.error_text.c_str());
    std::fflush(file_);
}

void TraceWriter::line(double time, const std::string& text) {
    if (!start_) start_ = time;
    // Buffered: many uploads at once write their logs side by side. The
    // outcome line flushes it all.
    std::fprintf(file_, "%10.6f %s\n", time - *start_, text.c_str());
}

}  // namespace vq::cli
