#include "form/status_line.h"

#include "protocol/report.h"

namespace vq {

namespace {
constexpr double kRedrawInterval = 0.1;  // seconds on the upload's clock
}

void StatusLine::show_choice(const std::string& text) {
    if (!uploading_) set(text);
}

void StatusLine::upload_started(const std::string& port_cause, const std::string& aside) {
    stats_ = TransferStats();
    uploading_ = true;
    port_cause_ = &port_cause;
    aside_ = aside;
    last_draw_.reset();
}

void StatusLine::upload_ended(const UploadResult& result, const std::string& port_cause, const std::string& record) {
    uploading_ = false;
    port_cause_ = nullptr;
    std::string text = describe_end(result, port_cause);
    // The port stays open after a missing file, as it always has.
    if (result.end == UploadEnd::FileNotFound)
        text += " \u00B7 the port stays open: choose another port and send, or empty the path box and press Send Data, "
                "to release it";
    if (!record.empty()) text += " \u00B7 " + record;
    set(text);
}

void StatusLine::on_pacing(Pace pace, const std::string& why) {
    stats_.on_pacing(pace, why);
    if (stats_.block_index() >= 0) draw(true);  // a fallback shows at once
}

// The box that follows waits for the user: the line under it says the same.
void StatusLine::on_ending(const UploadResult& result) {
    set(describe_end(result, port_cause_ ? *port_cause_ : std::string()));
}

void StatusLine::on_phase(Phase phase, int attempt) {
    stats_.on_phase(phase, attempt);
    if (phase != Phase::Sending) draw(true);  // the sending is shown with its first block
}

// Blocks follow each other faster than anyone reads: the first is shown at
// once, the others at most about ten times a second.
void StatusLine::on_block(std::int32_t index, std::int32_t total, std::uint8_t number) {
    const bool first = stats_.block_index() < 0;
    stats_.on_block(index, total, number);
    draw(first);
}

void StatusLine::on_transmission(Transmission kind, std::span<const std::uint8_t> frame, double time) {
    now_ = time;
    stats_.on_transmission(kind, frame, time);
}

void StatusLine::on_reply(const Reply& reply, double time) {
    now_ = time;
    stats_.on_reply(reply, time);
    if (reply.code != kAck) draw(false);  // an acknowledged block is followed by the next at once
}

void StatusLine::draw(bool force) {
    if (!force && last_draw_ && now_ - *last_draw_ < kRedrawInterval) return;
    last_draw_ = now_;
    const std::string text = describe_progress(stats_, "press Stop to give up");
    set(aside_.empty() ? text : text + " \u00B7 " + aside_);
}

void StatusLine::set(const std::string& text) {
    if (current_() == text) return;
    set_(text);
    ++redraws_;
}

}  // namespace vq
