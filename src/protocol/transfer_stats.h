#pragma once
// Live figures of an upload, gathered from what it reports: the phase, the
// block under way, resends and NAKs, the speed and the time left. Speed is
// measured from the first data frame to the latest acknowledged one, on the
// upload's own clock.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/upload.h"

namespace vq {

class TransferStats : public UploadObserver {
public:
    void on_phase(Phase phase, int attempt) override;
    void on_block(std::int32_t index, std::int32_t total, std::uint8_t number) override;
    void on_progress(int percent) override { percent_ = percent; }
    void on_transmission(Transmission kind, std::span<const std::uint8_t> frame, double time) override;
    void on_reply(const Reply& reply, double time) override;
    void on_pacing(Pace pace, const std::string& why) override;
    void on_hint(Hint hint) override { hint_ = hint; }

    Phase phase() const { return phase_; }
    int attempt() const { return attempt_; }
    std::int32_t block_index() const { return block_index_; }  // 0-based, -1 before the first
    std::int32_t blocks_total() const { return blocks_total_; }
    int percent() const { return percent_; }
    int blocks_acknowledged() const { return acked_; }
    int resends() const { return resends_; }  // data frames sent again
    int naks() const { return naks_; }
    // Wake-ups the device answered with CAN, this upload.
    int refused_wake_ups() const { return refused_wake_ups_; }
    // Wake-ups sent, this upload: none for the standard protocols.
    int wake_ups() const { return wake_ups_; }
    // What the other end gave away so far.
    Hint hint() const { return hint_; }
    // Answers read right after a read of a data frame that heard nothing:
    // each may answer the send before, not the one it is taken for.
    int late_answers() const { return late_answers_; }
    // Image bytes per second, once a block has been acknowledged.
    std::optional<double> bytes_per_second() const;
    // Seconds until the last block is acknowledged at the speed so far.
    std::optional<double> seconds_left() const;
    // Whether replies pace the upload, and why they stopped doing so.
    Pace pace() const { return pace_; }
    const std::string& fallback_reason() const { return fallback_reason_; }

private:
    Phase phase_ = Phase::Starting;
    int attempt_ = 0;
    std::int32_t block_index_ = -1;
    std::int32_t blocks_total_ = 0;
    int percent_ = 0;
    int acked_ = 0;
    int resends_ = 0;
    int naks_ = 0;
    int sends_of_block_ = 0;
    std::size_t block_size_ = kBlockSize;  // of the data frames sent
    std::optional<Transmission> last_sent_;
    int refused_wake_ups_ = 0;
    int wake_ups_ = 0;
    Hint hint_ = Hint::None;
    int late_answers_ = 0;
    bool heard_nothing_ = false;  // the last read of a data frame
    std::optional<double> first_data_time_;
    double last_ack_time_ = 0;
    Pace pace_ = Pace::Fixed;
    std::string fallback_reason_;
};

// Passes every report on to several observers.
class ObserverList final : public UploadObserver {
public:
    void add(UploadObserver* o) { observers_.push_back(o); }
    void on_phase(Phase p, int a) override;
    void on_block(std::int32_t i, std::int32_t t, std::uint8_t n) override;
    void on_progress(int percent) override;
    void on_transmission(Transmission k, std::span<const std::uint8_t> f, double t) override;
    void on_reply(const Reply& r, double t) override;
    void on_pacing(Pace p, const std::string& why) override;
    void on_check(Check c, std::size_t block_size) override;
    void on_hint(Hint h) override;
    void on_console(bool typed, const std::string& text, double time) override;
    void on_ending(const UploadResult& r) override;

private:
    std::vector<UploadObserver*> observers_;
};

}  // namespace vq
