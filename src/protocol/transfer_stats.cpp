#include "protocol/transfer_stats.h"

namespace vq {

void TransferStats::on_phase(Phase phase, int attempt) {
    phase_ = phase;
    attempt_ = attempt;
}

void TransferStats::on_block(std::int32_t index, std::int32_t total, std::uint8_t) {
    if (index != block_index_) sends_of_block_ = 0;
    block_index_ = index;
    blocks_total_ = total;
}

void TransferStats::on_transmission(Transmission kind, std::span<const std::uint8_t> frame, double time) {
    last_sent_ = kind;
    if (kind == Transmission::WakeUp) ++wake_ups_;
    if (kind != Transmission::Data) return;
    if (const std::size_t size = data_size_of(frame)) block_size_ = size;
    if (!first_data_time_) first_data_time_ = time;
    if (sends_of_block_++ > 0) ++resends_;
}

void TransferStats::on_reply(const Reply& reply, double time) {
    if (last_sent_ == Transmission::WakeUp && reply.code == kCancel) ++refused_wake_ups_;
    if (last_sent_ != Transmission::Data) return;
    const bool answer = reply.code == kAck || reply.code == kNak;
    if (answer && heard_nothing_) ++late_answers_;
    heard_nothing_ = !reply.byte;
    if (reply.code == kAck) {
        ++acked_;
        last_ack_time_ = time;
    } else if (reply.code == kNak) {
        ++naks_;
    }
}

void TransferStats::on_pacing(Pace pace, const std::string& why) {
    pace_ = pace;
    fallback_reason_ = pace == Pace::Fixed ? why : std::string();
}

std::optional<double> TransferStats::bytes_per_second() const {
    if (acked_ == 0 || !first_data_time_) return std::nullopt;
    const double span = last_ack_time_ - *first_data_time_;
    if (span <= 0) return std::nullopt;
    return static_cast<double>(acked_) * static_cast<double>(block_size_) / span;
}

std::optional<double> TransferStats::seconds_left() const {
    const auto rate = bytes_per_second();
    if (!rate) return std::nullopt;
    const int left = std::max(0, blocks_total_ - acked_);
    return static_cast<double>(left) * static_cast<double>(block_size_) / *rate;
}

void ObserverList::on_phase(Phase p, int a) {
    for (auto* o : observers_) o->on_phase(p, a);
}
void ObserverList::on_block(std::int32_t i, std::int32_t t, std::uint8_t n) {
    for (auto* o : observers_) o->on_block(i, t, n);
}
void ObserverList::on_progress(int percent) {
    for (auto* o : observers_) o->on_progress(percent);
}
void ObserverList::on_transmission(Transmission k, std::span<const std::uint8_t> f, double t) {
    for (auto* o : observers_) o->on_transmission(k, f, t);
}
void ObserverList::on_reply(const Reply& r, double t) {
    for (auto* o : observers_) o->on_reply(r, t);
}
void ObserverList::on_pacing(Pace p, const std::string& why) {
    for (auto* o : observers_) o->on_pacing(p, why);
}
void ObserverList::on_hint(Hint h) {
    for (auto* o : observers_) o->on_hint(h);
}
void ObserverList::on_console(bool typed, const std::string& text, double time) {
    for (auto* o : observers_) o->on_console(typed, text, time);
}
void ObserverList::on_check(Check c, std::size_t block_size) {
    for (auto* o : observers_) o->on_check(c, block_size);
}
void ObserverList::on_ending(const UploadResult& r) {
    for (auto* o : observers_) o->on_ending(r);
}

}  // namespace vq
