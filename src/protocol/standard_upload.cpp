#include "protocol/standard_upload.h"

#include <algorithm>
#include <deque>
#include <optional>

#include "protocol/failure.h"
#include "protocol/frame.h"
#include "protocol/host.h"
#include "protocol/image_file.h"
#include "protocol/reply.h"
#include "protocol/serial_link.h"
#include "protocol/standard_frame.h"
#include "protocol/upload_base.h"
#include "protocol/wait.h"

namespace vq {
namespace {

constexpr const StandardTiming& timing = kStandardTiming;

class StandardUpload final : public UploadBase {
public:
    explicit StandardUpload(const UploadContext& c) : UploadBase(c) {}

    UploadResult send(const std::string& path_text, const std::string& file_name) {
        name_ = utf8_from_path(path_from_utf8(file_name).filename());
        return run(path_text, file_name);
    }

private:
    // What was heard while listening for some bytes.
    struct Heard {
        enum Kind { Byte, Cancelled, Stopped, Silence } kind;
        std::uint8_t byte = 0;
    };
    // How sending one frame until it is acknowledged ended.
    enum class Sent { Acked, Cancelled, Stopped, RetryLimit };

    Pace pace() const override { return Pace::Reply; }
    // A receiver asks every few seconds (rx every ten): a request that came
    // before the port was opened saves that wait. One from a receiver that
    // has since given up costs retries, and is reported as such.
    bool keeps_received() const override { return true; }

    UploadEnd transfer() override {
        result_.start_wait = c_.start_wait;
        std::optional<std::vector<std::uint8_t>> header;
        if (c_.protocol == Protocol::Ymodem) {
            const std::int64_t len = length();
            header = ymodem_header_data(name_, len);
            if (!header)
                throw Failure(err::BadFileName, "the file name \"" + name_ + "\" does not fit YMODEM's block 0 (" +
                                                    std::to_string(ymodem_name_room(len)) + " bytes at most for this file)");
        }

        phase(Phase::WaitingForStart, 0);
        const Heard request = listen_for_request(c_.start_wait);
        switch (request.kind) {
        case Heard::Silence: return clean_up(UploadEnd::NoStart);
        case Heard::Stopped: return stopped_before_blocks();
        case Heard::Cancelled: return clean_up(tell(UploadEnd::Rejected, text::kRejected));
        case Heard::Byte: break;
        }
        asked_ = true;
        check_ = request.byte == wire::START ? Check::Crc16 : Check::Sum8;
        if (c_.observer) c_.observer->on_check(check_, block_size());

        phase(Phase::Sending, 0);
        if (header) {
            if (const Sent s = send_frame(Transmission::Header, standard_frame(*header, 128, 0, check_, 0));
                s != Sent::Acked)
                return unacknowledged(s);
            // The receiver asks for the data as it asked for block 0; one
            // that does not is sent the first block all the same.
            if (const Heard h = listen_for_request(timing.answer_wait); h.kind != Heard::Byte && h.kind != Heard::Silence)
                return unacknowledged(h.kind == Heard::Stopped ? Sent::Stopped : Sent::Cancelled);
        }

        const auto block = static_cast<std::int64_t>(block_size());
        std::uint8_t number = 1;
        for (std::int64_t offset = 0;; offset += block, ++number) {
            const std::int64_t len = length();  // once per block, for the frame and the percentage
            if (offset >= len) break;
            const auto data = image().subspan(static_cast<std::size_t>(offset),
                                              static_cast<std::size_t>(std::min(block, len - offset)));
            report_block(offset, number);
            show_percent(offset, len);
            const Sent s = send_frame(Transmission::Data, standard_frame(data, block_size(), number, check_,
                                                                          wire::CPMEOF));
            if (s != Sent::Acked) return unacknowledged(s);
            acknowledged_block();
        }
        note_transfer_time();

        if (const Sent s = end_of_transmission(); s != Sent::Acked)
            return s == Sent::RetryLimit ? clean_up(UploadEnd::NoEotAck) : unacknowledged(s);
        if (header) {
            // The receiver asks for the next file's block 0; an empty one ends the batch.
            const Heard h = listen_for_request(timing.answer_wait);
            if (h.kind == Heard::Silence) return clean_up(UploadEnd::NoEotAck);
            if (h.kind != Heard::Byte) return unacknowledged(h.kind == Heard::Stopped ? Sent::Stopped : Sent::Cancelled);
            const Sent s = send_frame(Transmission::Header, standard_frame({}, 128, 0, check_, 0));
            if (s == Sent::RetryLimit) return clean_up(UploadEnd::NoEotAck);
            if (s != Sent::Acked) return unacknowledged(s);
        }
        return clean_up(tell(UploadEnd::Finished, text::kFinished));
    }

    // Sends EOT until the receiver acknowledges it. NAK asks for it again,
    // as does 'C' (a receiver that missed it asks for a block instead).
    Sent end_of_transmission() {
        static constexpr std::uint8_t eot[] = {wire::EOT};
        for (int attempt = 0; attempt <= timing.retries; ++attempt) {
            phase(Phase::Ending, attempt);
            if (attempt > 0) ++result_.retries;
            pause_and_clear();
            if (stop_requested()) return Sent::Stopped;
            transmit(Transmission::EndOfTransmission, eot);
            const Heard h = listen(timing.answer_wait, {wire::ACK, wire::NAK, wire::START});
            if (h.kind == Heard::Byte && h.byte == wire::ACK) return Sent::Acked;
            if (h.kind == Heard::Stopped) return Sent::Stopped;
            if (h.kind == Heard::Cancelled) return Sent::Cancelled;
        }
        return Sent::RetryLimit;
    }

    // Sends `frame` until the receiver acknowledges it: a NAK or silence
    // sends it again, up to timing.retries times.
    Sent send_frame(Transmission kind, const std::vector<std::uint8_t>& frame) {
        for (int sends = 0; sends <= timing.retries; ++sends) {
            if (sends > 0) ++result_.retries;
            pause_and_clear();
            if (stop_requested()) return Sent::Stopped;  // no frame goes out after a Stop
            transmit(kind, frame);
            const Heard h = listen(timing.answer_wait, {wire::ACK, wire::NAK});
            switch (h.kind) {
            case Heard::Byte:
                if (h.byte == wire::ACK) return Sent::Acked;
                break;
            case Heard::Silence: break;
            case Heard::Cancelled: return Sent::Cancelled;
            case Heard::Stopped: return Sent::Stopped;
            }
        }
        return Sent::RetryLimit;
    }

    UploadEnd unacknowledged(Sent s) {
        switch (s) {
        case Sent::Cancelled: return clean_up(tell(UploadEnd::CancelledByDevice, text::kCancelled));
        case Sent::Stopped:
            cancel(Phase::Stopping);
            c_.displays.set_percent_text("");
            return clean_up(UploadEnd::StoppedCancelSent);
        case Sent::RetryLimit:
        case Sent::Acked: break;
        }
        cancel(Phase::GivingUp);
        return clean_up(UploadEnd::RetryLimit);
    }

    // A receiver that asked for blocks is told the transfer is over.
    void abandon() override {
        if (asked_) cancel(Phase::GivingUp);
    }

    // Receivers never answer a cancel: it is sent once, long enough for any.
    void cancel(Phase p) {
        phase(p, 0);
        const std::vector<std::uint8_t> cans(timing.cancel_bytes, wire::CAN);
        transmit(Transmission::Cancel, cans);
    }

    // The pause counts from the last byte heard: the work since then (the
    // next frame built, the progress shown) is part of it.
    void pause_and_clear() {
        const double left = last_heard_ + timing.frame_pause - c_.clock.now();
        if (left > 0) wait(static_cast<float>(left));
        // An answer still waiting belongs to an earlier frame.
        c_.link.setInBufferCount(0);
        pending_.clear();
    }

    // Waits for the receiver to ask for a block, 'C' or NAK. What had
    // already arrived with the request is read too, and the last request
    // counts: a receiver that gave up on CRC asks with NAK from then on.
    Heard listen_for_request(double seconds) {
        Heard h = listen(seconds, {wire::START, wire::NAK});
        while (h.kind == Heard::Byte && arrived()) {
            const std::uint8_t b = take();
            if (b == wire::START || b == wire::NAK) h.byte = b;
        }
        return h;
    }

    // Waits up to `seconds` for one of `wanted`, passing over other bytes.
    // Two CANs in a row cancel; a stop request ends the wait at once.
    Heard listen(double seconds, std::initializer_list<std::uint8_t> wanted) {
        const double deadline = c_.clock.now() + seconds;
        std::optional<double> last_cancel;
        for (;;) {
            if (stop_requested()) return {Heard::Stopped};
            const double left = deadline - c_.clock.now();
            if (left <= 0) {
                if (c_.observer) c_.observer->on_reply(Reply{kNoAnswer, std::nullopt}, c_.clock.now());
                return {Heard::Silence};
            }
            if (!arrived()) {
                wait_seconds(static_cast<float>(left), c_.clock,
                             [this] { return c_.form.stop_request != 0 || c_.link.InBufferCount() > 0; });
                continue;
            }
            const std::uint8_t b = take();
            const double now = c_.clock.now();
            if (b == wire::CAN) {
                if (last_cancel && now - *last_cancel <= timing.cancel_gap) return {Heard::Cancelled};
                last_cancel = now;
                continue;
            }
            last_cancel.reset();
            if (std::find(wanted.begin(), wanted.end(), b) != wanted.end()) return {Heard::Byte, b};
        }
    }

    // Whether a received byte waits to be looked at, taking what the link holds.
    bool arrived() {
        if (pending_.empty() && c_.link.InBufferCount() > 0) {
            const std::vector<std::uint8_t> got = c_.link.Input();
            pending_.insert(pending_.end(), got.begin(), got.end());
        }
        return !pending_.empty();
    }

    std::uint8_t take() {
        const std::uint8_t b = pending_.front();
        pending_.pop_front();
        last_heard_ = c_.clock.now();
        if (c_.observer) c_.observer->on_reply(Reply{classify_reply(b), b}, last_heard_);
        return b;
    }

    std::string name_;
    bool asked_ = false;  // the receiver asked for the first block
    Check check_ = Check::Crc16;
    std::deque<std::uint8_t> pending_;  // received, not yet looked at
    double last_heard_ = 0;             // when the last byte was taken
};

}  // namespace

UploadResult run_standard_upload(const UploadContext& context, const std::string& path_text,
                                 const std::string& file_name) {
    return StandardUpload(context).send(path_text, file_name);
}

}  // namespace vq
