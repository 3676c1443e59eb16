#include "cli/outputs.h"

#include <cstdio>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "cli/port_worker.h"
#include "link/port_map.h"
#include "protocol/image_file.h"
#include "protocol/report.h"
#include "records/record.h"

namespace vq::cli {
namespace {

// "1c291ca3", as U-Boot's crc32 shows it.
std::string hex32(std::uint32_t value) {
    char text[12];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

const char* phase_word(Phase p) {
    switch (p) {
    case Phase::Starting: return "starting";
    case Phase::WakingUp: return "waking";
    case Phase::WaitingForStart: return "waiting_for_start";
    case Phase::Sending: return "sending";
    case Phase::GivingUp: return "giving_up";
    case Phase::Stopping: return "stopping";
    case Phase::Ending: return "ending";
    }
    return "";
}

}  // namespace

std::string local_time(const char* format) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const std::tm local = records::local_calendar(seconds);
    char text[64];
    const std::size_t n = std::strftime(text, sizeof text, format, &local);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::snprintf(text + n, sizeof text - n, ".%03d", static_cast<int>(ms));
    return text;
}

void say(const std::string& prefix, const std::string& text) {
    std::fprintf(stderr, "vellquin-send: %s%s\n", prefix.empty() ? "" : (prefix + ": ").c_str(), text.c_str());
}

void EndingLines::ended(const UploadOutcome& o) {
    if (ending_needs_words(o.result)) say_(prefix_, o.ending);
    if (!o.record_note.empty()) say_(prefix_, o.record_note);
}

// ---- one port -------------------------------------------------------------

// The board echoes what is typed: its own lines are the record.
void SinglePortLines::on_console(bool typed, const std::string& text, double) {
    if (!console_ || typed) return;
    progress_.finish();
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

void SinglePortLines::message(const std::string& text) {
    progress_.finish();
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

void SinglePortLines::note(const std::string& text) {
    progress_.finish();
    EndingLines::note(text);
}

// The progress line ends with the ending, before its message box's text.
void SinglePortLines::on_ending(const UploadResult& result) { progress_.conclude(describe_end(result)); }

void SinglePortLines::ended(const UploadOutcome& o) {
    progress_.conclude(o.ending);
    EndingLines::ended(o);
}

// ---- several ports, no terminal -------------------------------------------

void PrefixedLines::on_progress(int percent) {
    std::printf("%s: %d%%\n", port_.c_str(), percent);
    std::fflush(stdout);
}

void PrefixedLines::message(const std::string& text) {
    std::printf("%s: %s\n", port_.c_str(), text.c_str());
    std::fflush(stdout);
}

// ---- several ports on a terminal ------------------------------------------

class PortTable::RowOutput final : public PortOutput {
public:
    RowOutput(PortTable& table, std::size_t row) : table_(table), row_(row) {}
    void started(const UploadStart& s) override {
        Row& r = table_.rows_[row_];
        r.device = short_device_name(s.device);
        r.ending.clear();
        r.waiting.clear();
        message_.clear();
        r.started = true;
        table_.changed();
    }
    void on_phase(Phase, int) override { table_.changed(); }
    void on_progress(int) override { table_.changed(); }
    void message(const std::string& text) override { message_ = text; }
    void waiting(const std::string&, const std::string& text) override {
        table_.rows_[row_].waiting = text;
        table_.draw();
    }
    void hashing() override {
        table_.rows_[row_].waiting = "hashing the file";
        table_.draw();
    }
    void ended(const UploadOutcome& o) override {
        std::string ending;
        for (const std::string& part : {o.timeout_words, message_, o.ending})
            if (!part.empty()) ending += (ending.empty() ? "" : " \u00B7 ") + part;
        table_.rows_[row_].ending = ending;
        table_.draw();
    }

private:
    PortTable& table_;
    std::size_t row_;
    std::string message_;
};

std::unique_ptr<PortOutput> PortTable::row(const std::string& port, const TransferStats& stats) {
    rows_.push_back({port, "", "", "", &stats});
    return std::make_unique<RowOutput>(*this, rows_.size() - 1);
}

SayTo PortTable::held_lines() {
    return [this](const std::string& prefix, const std::string& text) { held_.emplace_back(prefix, text); };
}

std::vector<std::string> PortTable::lines(const Row& r) const {
    const std::string lead = r.port + "  " + r.device + "  ";
    const int columns = columns_();
    if (!r.waiting.empty()) return {fit_to_width(lead + r.waiting, columns)};
    if (!r.ending.empty()) return wrap_to_width(lead, r.ending, columns);
    if (!r.started) return {fit_to_width(lead + "waiting for the device", columns)};
    return {fit_to_width(lead + bar_and_percent(r.stats->percent(), 20) + describe_progress(*r.stats, kStopHint), columns)};
}

void PortTable::changed() {
    if (std::chrono::steady_clock::now() - last_ < std::chrono::milliseconds(100)) return;
    draw();
}

void PortTable::draw() {
    last_ = std::chrono::steady_clock::now();
    std::vector<std::string> all;
    for (const Row& r : rows_)
        for (std::string& line : lines(r)) all.push_back(std::move(line));
    if (!note_.empty()) all.push_back(fit_to_width(note_, columns_()));
    // Back to the table's first line; lines the table no longer needs are
    // cleared below it.
    if (drawn_lines_ > 0) std::fprintf(out_, "\033[%dA", drawn_lines_);
    for (const std::string& line : all) std::fprintf(out_, "\r%s\033[K\n", line.c_str());
    if (drawn_lines_ > static_cast<int>(all.size())) std::fprintf(out_, "\033[J");
    drawn_lines_ = static_cast<int>(all.size());
    std::fflush(out_);
}

void PortTable::finish(const SayTo& say_to) {
    draw();
    for (const auto& [prefix, text] : held_) say_to(prefix, text);
    held_.clear();
}

// ---- JSON -----------------------------------------------------------------

void print_json(const JsonLine& line, bool flush, std::FILE* out) {
    std::fprintf(out, "%s\n", line.text().c_str());
    if (flush) std::fflush(out);
}

JsonLine JsonEvents::event(const char* name) const {
    JsonLine line;
    line.add("port", port_).add("event", name);
    return line;
}

void JsonEvents::started(const UploadStart& s) {
    message_.clear();
    JsonLine line = event("start");
    line.add("device", s.device).add("identity", s.identity).add("file", file_);
    const auto block = static_cast<std::int64_t>(block_size_of(s.protocol));
    if (s.size >= 0) line.add("bytes", s.size).add("blocks", (s.size + block - 1) / block);
    line.add("sha256", s.sha256).add("pace", pace_word(pace_of(s.protocol, s.pace)));
    // Records of the device's own protocol read as they always have.
    if (s.protocol != Protocol::Device) line.add("protocol", protocol_word(s.protocol));
    if (!s.unit.empty()) line.add("unit", s.unit);
    print_json(line, true, out_);
}

void JsonEvents::on_phase(Phase p, int attempt) {
    if (p == Phase::Sending) return;  // the progress says so
    print_json(event("phase").add("phase", phase_word(p)).add("attempt", attempt + 1), false, out_);
}

// At most ten a second, and always the last block's: an upload paced by
// replies may be over in less than a tenth of a second. Speed and time
// left are null until a block has been acknowledged.
void JsonEvents::on_progress(int percent) {
    const auto now = std::chrono::steady_clock::now();
    const bool last_block = stats_.block_index() + 1 == stats_.blocks_total();
    if (!last_block && now - last_progress_ < std::chrono::milliseconds(100)) return;
    last_progress_ = now;
    JsonLine line = event("progress");
    line.add("block", stats_.block_index() + 1).add("blocks", stats_.blocks_total()).add("percent", percent);
    if (const auto rate = stats_.bytes_per_second()) line.add("bytes_per_second", *rate);
    else line.add_null("bytes_per_second");
    if (const auto left = stats_.seconds_left()) line.add("seconds_left", *left);
    else line.add_null("seconds_left");
    print_json(line.add("resends", stats_.resends()).add("naks", stats_.naks()), false, out_);
}

void JsonEvents::on_pacing(Pace p, const std::string& why) {
    print_json(event("pacing").add("pace", pace_word(p)).add("why", why), false, out_);
}

void JsonEvents::waiting(const std::string& what, const std::string& text) {
    print_json(event("waiting").add("for", what).add("text", text), true, out_);
}

void JsonEvents::hashing() { print_json(event("phase").add("phase", "hashing").add("attempt", 1), true, out_); }

void JsonEvents::ended(const UploadOutcome& o) {
    const UploadResult& r = o.result;
    JsonLine line = event("end");
    line.add("outcome", outcome_word(r.end)).add("exit_status", o.exit_status).add("timed_out", o.timed_out);
    if (message_.empty())
        line.add_null("message");
    else
        line.add("message", message_);
    // What the device acknowledged; the file's size beside it.
    line.add("text", o.ending).add("bytes", acknowledged_bytes(r)).add("blocks", r.blocks_acknowledged);
    line.add("file_bytes", std::max<std::int64_t>(r.image_length, 0)).add("file_blocks", r.blocks_total);
    line.add("seconds", o.wall_seconds).add("resends", stats_.resends()).add("naks", stats_.naks());
    if (r.end == UploadEnd::Finished && r.seconds > 0)
        line.add("kilobytes_per_second", static_cast<double>(r.image_length) / r.seconds / 1000.0);
    line.add("pace", pace_word(r.pace));
    if (r.protocol != Protocol::Device) line.add("protocol", protocol_word(r.protocol)).add("retries", r.retries);
    if (r.hint != Hint::None) line.add("hint", hint_word(r.hint)).add("hint_text", hint_words(r.hint));
    if (r.batch_end_unanswered) line.add("batch_end_answered", false);
    if (!r.receiver_protocol.empty()) line.add("receiver_protocol", r.receiver_protocol);
    if (!r.load_address.empty()) line.add("load_address", r.load_address);
    if (r.reported_size) line.add("reported_size", *r.reported_size);
    if (r.reported_crc32) line.add("reported_crc32", hex32(*r.reported_crc32));
    if (r.file_crc32) line.add("file_crc32", hex32(*r.file_crc32));
    if (!o.record_id.empty()) line.add("record_id", o.record_id).add("records", o.record_where);
    if (!o.record_note.empty()) line.add("record_note", o.record_note);
    print_json(line, true, out_);
}

// ---- summary.csv ----------------------------------------------------------

std::string csv_field(const std::string& text) {
    if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char ch : text) quoted += ch == '"' ? std::string("\"\"") : std::string(1, ch);
    return quoted + "\"";
}

void SummaryCsv::ended(const UploadOutcome& o) {
    const auto path = path_from_utf8(dir_ + "/summary.csv");
    std::error_code ec;
    const bool fresh = !std::filesystem::exists(path, ec) || std::filesystem::file_size(path, ec) == 0;
    std::string text;
    // New columns come last: scripts that count the columns keep working.
    // bytes are those the device acknowledged, file_bytes the file's.
    if (fresh) text = "time,port,device,identity,file,sha256,bytes,outcome,seconds,tty,file_bytes\n";
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", o.wall_seconds);
    const std::string time = local_time("%Y-%m-%dT%H:%M:%S");
    std::error_code absolute_failed;
    const auto file = std::filesystem::absolute(path_from_utf8(file_), absolute_failed);
    for (const std::string& field : {time, port_, start_.device, start_.identity,
                                     absolute_failed ? file_ : utf8_from_path(file.lexically_normal()), start_.sha256,
                                     std::to_string(acknowledged_bytes(o.result)), std::string(o.word()),
                                     std::string(seconds), start_.tty.empty() ? start_.device : start_.tty,
                                     std::to_string(std::max<std::int64_t>(o.result.image_length, 0))})
        text += csv_field(field) + ",";
    text.back() = '\n';
    std::ofstream(path, std::ios::app | std::ios::binary) << text << std::flush;
}

}  // namespace vq::cli
