#include "protocol/upload.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>

#include "protocol/failure.h"
#include "protocol/host.h"
#include "protocol/serial_link.h"
#include "protocol/standard_upload.h"
#include "protocol/upload_base.h"
#include "protocol/wait.h"

namespace vq {

bool is_silent(UploadEnd end) {
    switch (end) {
    case UploadEnd::NoFileChosen:
    case UploadEnd::NakLimit:
    case UploadEnd::NakLimitNoAck:
    case UploadEnd::NoEotAck:
    case UploadEnd::StoppedWaiting:
    case UploadEnd::StoppedNoAck:
    case UploadEnd::RetryLimit:
    case UploadEnd::NoStart:
    case UploadEnd::Restarted:
    case UploadEnd::Failed:
        return true;
    default:
        return false;
    }
}

const char* to_string(UploadEnd end) {
    switch (end) {
    case UploadEnd::NoFileChosen: return "no file chosen";
    case UploadEnd::InvalidPort: return "invalid port";
    case UploadEnd::PortUnavailable: return "port unavailable";
    case UploadEnd::FileNotFound: return "file not found";
    case UploadEnd::Rejected: return "rejected by the device";
    case UploadEnd::CancelledByDevice: return "cancelled by the device";
    case UploadEnd::NakLimit: return "NAK limit, cancel acknowledged";
    case UploadEnd::NakLimitNoAck: return "NAK limit, cancel unanswered";
    case UploadEnd::Finished: return "finished";
    case UploadEnd::NoEotAck: return "end of transmission unanswered";
    case UploadEnd::StoppedWaiting: return "stopped before the first block";
    case UploadEnd::StoppedAcked: return "stopped, cancel acknowledged";
    case UploadEnd::StoppedNoAck: return "stopped, cancel unanswered";
    case UploadEnd::RetryLimit: return "retry limit, cancel sent";
    case UploadEnd::NoStart: return "the receiver never started";
    case UploadEnd::StoppedCancelSent: return "stopped, cancel sent";
    case UploadEnd::Restarted: return "the other end asked for a new start after the end";
    case UploadEnd::NoPrompt: return "no prompt";
    case UploadEnd::ReceiverRefused: return "no receiver of this protocol";
    case UploadEnd::SizeDiffers: return "the receiver reports another size";
    case UploadEnd::Crc32Differs: return "the receiver reports another crc32";
    case UploadEnd::CommandFailed: return "a command after the transfer failed";
    case UploadEnd::StoppedAtConsole: return "stopped after the transfer";
    case UploadEnd::Failed: return "failed";
    }
    return "?";
}

const char* outcome_word(UploadEnd end) {
    switch (end) {
    case UploadEnd::NoFileChosen: return "no_file_chosen";
    case UploadEnd::InvalidPort: return "invalid_port";
    case UploadEnd::PortUnavailable: return "port_unavailable";
    case UploadEnd::FileNotFound: return "file_not_found";
    case UploadEnd::Rejected: return "rejected";
    case UploadEnd::CancelledByDevice: return "cancelled";
    case UploadEnd::NakLimit: return "nak_limit";
    case UploadEnd::NakLimitNoAck: return "nak_limit_no_ack";
    case UploadEnd::Finished: return "finished";
    case UploadEnd::NoEotAck: return "no_eot_ack";
    case UploadEnd::StoppedWaiting: return "stopped_waiting";
    case UploadEnd::StoppedAcked: return "stopped";
    case UploadEnd::StoppedNoAck: return "stopped_no_ack";
    case UploadEnd::RetryLimit: return "retry_limit";
    case UploadEnd::NoStart: return "no_start";
    case UploadEnd::StoppedCancelSent: return "stopped_cancel_sent";
    case UploadEnd::Restarted: return "restarted";
    case UploadEnd::NoPrompt: return "no_prompt";
    case UploadEnd::ReceiverRefused: return "receiver_refused";
    case UploadEnd::SizeDiffers: return "size_differs";
    case UploadEnd::Crc32Differs: return "crc32_differs";
    case UploadEnd::CommandFailed: return "command_failed";
    case UploadEnd::StoppedAtConsole: return "stopped_at_console";
    case UploadEnd::Failed: return "failed";
    }
    return "failed";
}

const char* hint_word(Hint hint) {
    switch (hint) {
    case Hint::None: return "";
    case Hint::AskedUnwoken: return "asked_unwoken";
    case Hint::Echoes: return "echoes";
    case Hint::SilentReceiver: return "silent_receiver";
    case Hint::ExpectsYmodem: return "expects_ymodem";
    }
    return "";
}

const char* pace_word(Pace pace) { return pace == Pace::Reply ? "reply" : "fixed"; }

const char* protocol_word(Protocol protocol) {
    switch (protocol) {
    case Protocol::Device: return "device";
    case Protocol::Xmodem: return "xmodem";
    case Protocol::Xmodem1k: return "xmodem-1k";
    case Protocol::Ymodem: return "ymodem";
    }
    return "device";
}

std::optional<Protocol> protocol_from_word(std::string_view word) {
    const auto same = [](std::string_view a, std::string_view b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                          [](char x, char y) { return std::tolower(static_cast<unsigned char>(x)) == y; });
    };
    for (Protocol p : kProtocols)
        if (same(word, protocol_word(p))) return p;
    return std::nullopt;
}

std::size_t block_size_of(Protocol protocol) { return protocol == Protocol::Xmodem ? 128 : kBlockSize; }

int progress_percent(std::int64_t offset, std::int64_t length, std::size_t block_size) {
    // The ratio is divided in double precision and kept as a 4-byte float,
    // then the whole part of its hundredfold is taken: 0.32f lies just below
    // 0.32, so a 3200-byte image shows 31% for its first block.
    float ratio = static_cast<float>(static_cast<double>(offset + static_cast<std::int64_t>(block_size)) /
                                     static_cast<double>(length));
    if (ratio > 1.0f) ratio = 1.0f;
    return static_cast<int>(std::floor(static_cast<double>(ratio) * 100.0));
}

namespace {

std::int32_t checked_add(std::int32_t a, std::int64_t b) {
    const std::int64_t sum = a + b;
    if (sum > std::numeric_limits<std::int32_t>::max() || sum < std::numeric_limits<std::int32_t>::min())
        throw Failure(err::Overflow, "image offset overflow");
    return static_cast<std::int32_t>(sum);
}

// The device's own protocol: wake-ups until the device asks for the first
// block, 1030-byte frames each answered by ACK, NAK or CAN, then EOT.
class DeviceUpload final : public UploadBase {
public:
    explicit DeviceUpload(const UploadContext& c) : UploadBase(c), reply_paced_(c.pace == Pace::Reply) {}

private:
    // What the block transfer leads to when it does not end the upload itself.
    enum class Blocks { AllAcknowledged, NakLimit, Ended };
    enum class WakeUp { StartRequested, Rejected, Stopped };

    Pace pace() const override { return reply_paced_ ? Pace::Reply : Pace::Fixed; }

    UploadEnd transfer() override {
        if (reply_paced_) pacing("requested");
        wait(timing::kAfterLoad);

        switch (wake_up()) {
        case WakeUp::StartRequested: break;
        case WakeUp::Stopped: return stopped_before_blocks();
        case WakeUp::Rejected: return clean_up(tell(UploadEnd::Rejected, text::kRejected));
        }

        switch (send_blocks()) {
        case Blocks::AllAcknowledged: return end_transfer();
        case Blocks::NakLimit: return give_up();
        case Blocks::Ended: return result_.end;
        }
        return result_.end;
    }

    // ---- wake-up -----------------------------------------------------------
    // Up to 101 wake-ups; when none brings the start request, polls for it.
    // A stop request is seen after every pause as well, so that no wake-up
    // goes out once the user has stopped. With fixed pacing the answer is
    // read at once and the pause follows, so each answer is read after the
    // next wake-up. Paced by replies, the pause ends as soon as the start
    // request comes; the answer to the last wake-up is left for the polls
    // all the same, where a CAN is a refusal.
    WakeUp wake_up() {
        for (int attempt = 0; attempt < timing::kWakeUpTries; ++attempt) {
            if (stop_requested()) return WakeUp::Stopped;
            phase(Phase::WakingUp, attempt);
            // Only looked at, not taken: what came unasked is read as the answer, as always.
            const bool spoke_first = attempt == 0 && c_.link.InBufferCount() > 0;
            send_control(wire::WAKE, Transmission::WakeUp);
            const bool last = attempt + 1 == timing::kWakeUpTries;
            const std::int16_t code =
                reply_paced_ && !last ? wait_and_read(timing::kAfterWakeUp, {kStartRequest}) : read();
            if (stop_requested()) return WakeUp::Stopped;
            // A device asks when it is woken; a bootloader's XMODEM or YMODEM
            // receiver asks by itself, every second or so.
            if (spoke_first && code == kStartRequest) hint(Hint::AskedUnwoken);
            if (code == kStartRequest) return WakeUp::StartRequested;
            if (!reply_paced_)
                wait(timing::kAfterWakeUp);
            else if (last)
                wait_for_a_byte(timing::kAfterWakeUp);
        }
        return wait_for_start_request();
    }

    // Polls without sending, until the device asks for the first block or
    // cancels, or the user stops.
    WakeUp wait_for_start_request() {
        phase(Phase::WaitingForStart, 0);
        for (;;) {
            const std::int16_t code = wait_and_read(timing::kStartPoll, {kStartRequest, kCancel});
            if (stop_requested()) return WakeUp::Stopped;
            if (code == kStartRequest && answers_heard_ == 1) hint(Hint::AskedUnwoken);  // no wake-up was answered
            if (code == kStartRequest) return WakeUp::StartRequested;
            if (code == kCancel) return WakeUp::Rejected;
        }
    }

    // ---- blocks ------------------------------------------------------------
    Blocks send_blocks() {
        phase(Phase::Sending, 0);
        for (;;) {
            c_.form.reply_code = kNoAnswer;
            if (!build_block()) return Blocks::Ended;  // stopped
            int sends = 0;
            for (;;) {
                if (sends >= timing::kSendsPerBuild) {
                    // Ten sends without an answer: build the block again.
                    if (!build_block()) return Blocks::Ended;
                    sends = 0;
                }
                // A byte waiting before a send of a refused block arrived
                // after the read it answered: the device answers later than
                // the wait. Looked at only then, not before every frame.
                if (refusals_of_block_ > 0 && c_.link.InBufferCount() > 0) late_of_block_ = kNakLimitEvidence;
                transmit(Transmission::Data);
                const std::int16_t code = wait_and_read(timing::kAfterFrame, {kAck, kNak, kCancel});
                refusals_in_a_row_ = code == kNak ? refusals_in_a_row_ + 1 : 0;
                if (reply_paced_) keep_pace_or_fall_back(code);
                if (code == kNak && heard_nothing_) ++late_of_block_;  // a refusal right after a silent read
                heard_nothing_ = !last_byte_;
                if (code == kAck) {
                    refusals_of_block_ = 0;
                    late_of_block_ = 0;
                    acknowledged_block();
                    offset_ = checked_add(offset_, kBlockSize);
                    ++number_;  // 255 is followed by 0
                    if (last_block_) return Blocks::AllAcknowledged;
                    break;
                }
                if (code == kNak) {
                    if (c_.form.nak_count >= timing::kNakLimit) return Blocks::NakLimit;
                    // Refusals with silent reads between them clear the NAK
                    // count, as they always have. But a device whose answers
                    // come after their read may be refusing a block it was
                    // never sent, for ever: with evidence of that (a byte
                    // found waiting before a send, or half the refusals right
                    // after silent reads), ten refusals of one block end it.
                    if (++refusals_of_block_ >= timing::kNakLimit && late_of_block_ >= kNakLimitEvidence) {
                        result_.answers_late = true;
                        return Blocks::NakLimit;
                    }
                    break;  // the same block, built again
                }
                if (code == kCancel) {
                    result_.end = clean_up(tell(UploadEnd::CancelledByDevice, text::kCancelled));
                    return Blocks::Ended;
                }
                c_.form.reply_code = kNoAnswer;
                ++sends;
            }
        }
    }

    // Builds the frame of the current block and shows the progress. Returns
    // false when a stop request ended the upload instead.
    bool build_block() {
        const std::int64_t len = length();  // asked once per build, used for the frame and the percentage
        if (frames_.build(image(), len, offset_, number_)) last_block_ = true;
        report_block(offset_, number_);

        if (stop_requested()) {
            result_.end = stop_during_blocks();
            return false;
        }
        show_percent(offset_, len);
        return true;
    }

    UploadEnd stop_during_blocks() {
        c_.form.reply_code = kNoAnswer;
        c_.form.stop_request = 0;
        if (!acknowledged(wire::CAN, Transmission::Cancel, Phase::Stopping, timing::kCancelTries,
                          timing::kAfterStopCancel))
            return clean_up(UploadEnd::StoppedNoAck);
        c_.displays.set_percent_text("");
        return clean_up(tell(UploadEnd::StoppedAcked, text::kStopped));
    }

    // Sends control byte `byte` up to `tries` times, waiting `seconds` before
    // each read; true as soon as the device acknowledges one.
    bool acknowledged(std::uint8_t byte, Transmission kind, Phase p, int tries, float seconds) {
        for (int attempt = 0; attempt < tries; ++attempt) {
            phase(p, attempt);
            send_control(byte, kind);
            if (wait_and_read(seconds, {kAck}) == kAck) return true;
        }
        return false;
    }

    // ---- endings -----------------------------------------------------------
    UploadEnd give_up() {
        c_.form.nak_count = 0;
        if (!acknowledged(wire::CAN, Transmission::Cancel, Phase::GivingUp, timing::kCancelTries,
                          timing::kAfterGiveUpCancel))
            return clean_up(UploadEnd::NakLimitNoAck);
        c_.displays.set_percent_text(" ");
        return clean_up(UploadEnd::NakLimit);
    }

    UploadEnd end_transfer() {
        note_transfer_time();
        c_.form.reply_code = kNoAnswer;
        if (!acknowledged(wire::EOT, Transmission::EndOfTransmission, Phase::Ending, timing::kEotTries,
                          timing::kAfterEot))
            return clean_up(UploadEnd::NoEotAck);
        if (result_.hint == Hint::AskedUnwoken && asks_again_after_the_end())
            return clean_up(UploadEnd::Restarted);
        return clean_up(tell(UploadEnd::Finished, text::kFinished));
    }

    // The other end asked unwoken, as XMODEM and YMODEM receivers do. Such a
    // receiver took our frames for its own and acknowledged the end, but a
    // YMODEM one then asks for the next file, every 2 s or so (U-Boot's loady,
    // which has no image): that is no finished upload. Nothing is sent. A
    // request that came with the ACK was discarded with the rest of its
    // read, so the wait covers the next one.
    bool asks_again_after_the_end() {
        constexpr double kWindow = 4.0;
        const double until = c_.clock.now() + kWindow;
        for (double left = kWindow; left > 0; left = until - c_.clock.now()) {
            wait_for_a_byte(static_cast<float>(left));
            if (c_.link.InBufferCount() == 0) continue;
            for (const std::uint8_t b : c_.link.Input()) {
                if (c_.observer) c_.observer->on_reply(Reply{classify_reply(b), b}, c_.clock.now());
                if (b == wire::START) return true;
            }
        }
        return false;
    }

    // ---- transmissions and replies -----------------------------------------
    void transmit(Transmission kind) {
        // Paced by replies, a late byte from an earlier transmission must not
        // answer this one.
        if (reply_paced_) c_.link.setInBufferCount(0);
        UploadBase::transmit(kind, frames_.frame());
    }

    void send_control(std::uint8_t byte, Transmission kind) {
        frames_.set_control_byte(byte);
        transmit(kind);
    }

    std::int16_t read() {
        const Reply reply = read_reply_detail(c_.link, c_.form);
        last_byte_ = reply.byte.has_value();
        if (c_.observer) c_.observer->on_reply(reply, c_.clock.now());
        if (reply.byte) ++answers_heard_;
        if (reply.byte == wire::WAKE) hint(Hint::Echoes);  // no device answers a wake-up with one
        return reply.code;
    }

    // Waits `seconds` and reads the answer. Paced by replies, the wait ends
    // as soon as a byte arrives; when that byte is not one of `ends_early`,
    // the rest of the wait is still waited, so that retries keep their
    // spacing.
    std::int16_t wait_and_read(float seconds, std::initializer_list<std::int16_t> ends_early) {
        if (!reply_paced_) {
            wait(seconds);
            return read();
        }
        const double start = c_.clock.now();
        wait_for_a_byte(seconds);
        const std::int16_t code = read();
        if (std::find(ends_early.begin(), ends_early.end(), code) == ends_early.end())
            wait(static_cast<float>(seconds - (c_.clock.now() - start)));
        return code;
    }

    void wait_for_a_byte(float seconds) {
        wait_seconds(seconds, c_.clock, [this] { return c_.link.InBufferCount() > 0; });
    }

    // Replies pace the upload only while the device answers each frame in
    // its time and does not refuse one twice in a row. Only the refusals of
    // this upload's data frames count: the NAK count also holds NAKs read
    // while waiting for the start request, or left by an earlier upload.
    void keep_pace_or_fall_back(std::int16_t code) {
        const bool refused_twice = refusals_in_a_row_ >= 2;
        const bool unanswered = code != kAck && code != kNak && code != kCancel;
        if (refused_twice || unanswered)
            fall_back("block " + std::to_string(result_.block_index + 1) +
                      (refused_twice ? " was refused twice in a row" : " went unanswered"));
    }

    void fall_back(const std::string& why) {
        reply_paced_ = false;
        pacing(why);
    }

    void pacing(const std::string& why) {
        if (c_.observer) c_.observer->on_pacing(reply_paced_ ? Pace::Reply : Pace::Fixed, why);
    }

    FrameBuffers frames_;
    std::int32_t offset_ = 0;
    std::uint8_t number_ = 1;
    bool last_block_ = false;
    bool reply_paced_ = false;
    int answers_heard_ = 0;      // reads that took a byte, this upload
    int refusals_in_a_row_ = 0;  // of data frames, this upload
    int refusals_of_block_ = 0;  // of the block being sent, in a row or not
    // Evidence that the device answers later than the wait, for this block:
    // refusals read right after a silent read, or all of it at once.
    static constexpr int kNakLimitEvidence = timing::kNakLimit / 2;
    int late_of_block_ = 0;
    bool heard_nothing_ = false;  // the last read of a data frame took no byte
    bool last_byte_ = false;      // the last read took a byte
};

}  // namespace

UploadResult run_upload(const UploadContext& context, const std::string& path_text,
                        const std::string& file_name) {
    if (context.protocol != Protocol::Device) return run_standard_upload(context, path_text, file_name);
    return DeviceUpload(context).run(path_text, file_name);
}

}  // namespace vq
