#include "protocol/standard_upload.h"

#include <algorithm>
#include <cctype>
#include <deque>
#include <optional>

#include "protocol/failure.h"
#include "protocol/frame.h"
#include "protocol/host.h"
#include "protocol/image_file.h"
#include "protocol/receiver_console.h"
#include "protocol/reply.h"
#include "protocol/serial_link.h"
#include "protocol/standard_frame.h"
#include "protocol/upload_base.h"
#include "protocol/wait.h"

namespace vq {
namespace {

constexpr const StandardTiming& timing = kStandardTiming;
constexpr std::uint8_t kStreaming = 'G';  // YMODEM-g's request

class StandardUpload final : public UploadBase {
public:
    explicit StandardUpload(const UploadContext& c) : UploadBase(c) {}

    UploadResult send(const std::string& path_text, const std::string& file_name) {
        name_ = c_.send_name.empty() ? utf8_from_path(path_from_utf8(file_name).filename()) : c_.send_name;
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
    // YMODEM's block 0 gives the size, so an empty file is sent as such.
    bool sends_empty_files() const override { return c_.protocol == Protocol::Ymodem; }
    // A receiver asks every few seconds (rx every ten): a request that came
    // before the port was opened saves that wait. One from a receiver that
    // has since given up costs retries, and is reported as such.
    bool keeps_received() const override { return true; }

    UploadEnd transfer() override {
        result_.start_wait = c_.start_wait;
        std::string after_command;  // what the receiver sent after its words: its first requests
        if (!c_.command.empty())
            if (const auto end = start_receiver(after_command)) return *end;
        std::optional<std::vector<std::uint8_t>> header;
        if (result_.protocol == Protocol::Ymodem) {
            const std::int64_t len = length();
            header = ymodem_header_data(name_, len);
            if (!header)
                throw Failure(err::BadFileName, "the file name \"" + name_ + "\" does not fit YMODEM's block 0 (" +
                                                    std::to_string(ymodem_name_room(len)) + " bytes at most for this file)");
        }

        keep_only_requests(after_command);
        phase(Phase::WaitingForStart, 0);
        const Heard request = listen_for_request(c_.start_wait, kStreaming);
        switch (request.kind) {
        case Heard::Silence:
            if (!heard_anything_) hint(Hint::SilentReceiver);
            return clean_up(UploadEnd::NoStart);
        case Heard::Stopped: return stopped_before_blocks();
        case Heard::Cancelled: return clean_up(tell(UploadEnd::Rejected, text::kRejected));
        case Heard::Byte: break;
        }
        asked_ = true;
        // YMODEM-g sends every block without waiting for its answer: fast on
        // a clean link, a lost file on a noisy one. It is not sent here; the
        // receiver is told at once, and the user what to start instead.
        if (request.byte == kStreaming)
            throw Failure(err::Unsupported,
                          "Start the receiver for YMODEM with an answer to each block (rb without -g), then send again: "
                          "it asked for YMODEM-g, which is not sent here");
        check_ = request.byte == wire::START ? Check::Crc16 : Check::Sum8;
        if (result_.protocol == Protocol::Xmodem1k && check_ == Check::Sum8) {
            // 1024-byte blocks go only with CRC-16: a receiver that asks for
            // the sum takes XMODEM's 128-byte blocks.
            result_.protocol = Protocol::Xmodem;
            count_blocks();
        }
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
        if (!c_.command.empty()) after_end_.emplace();  // the receiver's report may come with its last answers
        if (header) {
            end_batch();
        } else if (asks_again_after_the_end()) {
            // A receiver that asks again after the end wants YMODEM's next
            // file: it took no XMODEM image (U-Boot's loady drops it).
            hint(Hint::ExpectsYmodem);
            cancel(Phase::GivingUp);
            return clean_up(UploadEnd::Restarted);
        }
        // A Stop while the receiver's words are read is no verdict on them.
        if (!c_.command.empty() && !receiver_reports_the_size())
            return clean_up(stop_requested() ? UploadEnd::StoppedAtConsole : UploadEnd::SizeDiffers);
        if (c_.crc32 && !receivers_crc32_is_the_files())
            return clean_up(stop_requested() ? UploadEnd::StoppedAtConsole : UploadEnd::Crc32Differs);
        if (!c_.command.empty() && !commands_after_succeed())
            return clean_up(stop_requested() ? UploadEnd::StoppedAtConsole : UploadEnd::CommandFailed);
        return clean_up(tell(UploadEnd::Finished, text::kFinished));
    }

    // ---- a receiver at a console --------------------------------------------
    // A carriage return brings the prompt (within the start wait: a board
    // may still be starting); the command typed there starts the receiver,
    // whose words name its protocol. Nothing is sent to a receiver of
    // another protocol: it is cancelled, back to its prompt.
    std::optional<UploadEnd> start_receiver(std::string& after_words) {
        phase(Phase::WaitingForStart, 0);
        const std::regex& prompt = prompt_pattern();
        c_.link.setInBufferCount(0);  // an earlier prompt is no answer to this carriage return
        console_.type("");
        constexpr double kPromptAtOnce = 1.0;
        Console::Read r = console_.read_until({prompt}, std::min(kPromptAtOnce, c_.start_wait));
        if (r.kind == Console::Read::TimedOut && c_.start_wait > kPromptAtOnce) {
            // A receiver left waiting by an earlier run takes the carriage
            // return for a frame: cancelled, it goes back to its prompt.
            cancel(Phase::WaitingForStart);
            console_.type("");
            r = console_.read_until({prompt}, c_.start_wait - kPromptAtOnce, nullptr, r.text);
        }
        if (r.kind == Console::Read::Stopped) return stopped_before_blocks();
        if (r.kind == Console::Read::TimedOut) {
            result_.console_words = last_words(r.text);
            return clean_up(UploadEnd::NoPrompt);
        }
        console_.type(c_.command);
        std::size_t which = 0;
        r = console_.read_until({ready_line(), prompt}, timing.console_wait, &which);
        if (r.kind == Console::Read::Stopped) return stopped_before_blocks();
        const auto words = r.kind == Console::Read::Found && which == 0 ? receiver_ready(r.text) : std::nullopt;
        if (!words) {
            // No words of a receiver, and no prompt either: one that asks
            // without saying anything (lrzsz's rx in a shell), for a
            // protocol that was chosen.
            if (r.kind == Console::Read::TimedOut && !c_.protocol_from_receiver) {
                after_words = r.text.substr(std::min(r.text.size(), r.text.find_last_of('\n') + 1));
                return std::nullopt;
            }
            // Its words are the line before the prompt that came back.
            const std::size_t prompt_length = r.kind == Console::Read::Found ? r.groups.front().size() : 0;
            result_.console_words = last_words(r.text.substr(0, r.text.size() - prompt_length));
            return clean_up(UploadEnd::ReceiverRefused);
        }
        result_.receiver_protocol = words->protocol;
        result_.load_address = words->address;
        const auto chosen = c_.protocol_from_receiver ? std::nullopt : std::optional<Protocol>(c_.protocol);
        const auto protocol = protocol_for_receiver(words->protocol, chosen);
        if (!protocol) {
            result_.console_words = last_words(r.text);
            cancel(Phase::GivingUp);
            return clean_up(UploadEnd::ReceiverRefused);
        }
        result_.protocol = *protocol;
        if (c_.crc32 && words->address.empty()) {
            cancel(Phase::GivingUp);
            return clean_up(UploadEnd::ReceiverRefused);  // no address to ask its crc32 of
        }
        count_blocks();
        after_words.assign(r.after.begin(), r.after.end());
        return std::nullopt;
    }

    // After the end, the receiver says how many bytes it got, then shows
    // its prompt again.
    bool receiver_reports_the_size() {
        const std::string already = after_end_.value_or("") + std::string(pending_.begin(), pending_.end());
        pending_.clear();
        const Console::Read r = console_.read_until({prompt_pattern()}, timing.console_wait, nullptr, already);
        result_.reported_size = reported_size(r.text);
        if (result_.reported_size &&
            size_agrees(result_.protocol, result_.image_length, *result_.reported_size, block_size()))
            return true;
        result_.console_words = last_words(r.text);
        return false;
    }

    // The receiver's crc32 of what it got (U-Boot's "crc32 for 02000000 ...
    // 02000400 ==> 1c291ca3"), of the size it reported: XMODEM's padding
    // counts when it reported the padded size.
    bool receivers_crc32_is_the_files() {
        char command[80];
        std::snprintf(command, sizeof command, "crc32 %s %llx", result_.load_address.c_str(),
                      static_cast<unsigned long long>(*result_.reported_size));
        console_.type(command);
        const Console::Read r = console_.read_until({prompt_pattern()}, timing.console_wait);
        static const std::regex answer(R"(==> ([0-9A-Fa-f]{8}))");
        std::smatch m;
        std::vector<std::uint8_t> got(image().begin(), image().end());
        got.resize(static_cast<std::size_t>(*result_.reported_size), wire::CPMEOF);
        result_.file_crc32 = c_.crc32(got);
        if (std::regex_search(r.text, m, answer)) result_.reported_crc32 = std::stoul(m[1].str(), nullptr, 16);
        else result_.console_words = last_words(r.text);
        return result_.reported_crc32 == result_.file_crc32;
    }

    // The commands typed after a checked transfer, each at the prompt the
    // one before gave back (within the start wait: writing flash takes a
    // while). The console's words say why one failed.
    bool commands_after_succeed() {
        const std::regex& prompt = prompt_pattern();
        const std::regex fail_on = pattern(c_.fail_on, "--fail-on");
        for (std::size_t i = 0; i < c_.then.size(); ++i) {
            const bool last = i + 1 == c_.then.size();
            console_.type(c_.then[i]);
            const Console::Read r = console_.read_until({prompt}, last ? timing.console_wait : c_.start_wait);
            // What the command showed: its own line (the echo) and the prompt left out.
            const std::size_t echo = r.text.find('\n');
            const std::size_t prompt_length = r.groups.empty() ? 0 : r.groups[0].size();
            const std::string shown = echo == std::string::npos
                                          ? std::string()
                                          : r.text.substr(echo + 1, r.text.size() - echo - 1 - prompt_length);
            std::smatch m;
            if (std::regex_search(shown, m, fail_on)) {
                result_.console_words = "\"" + c_.then[i] + "\" failed: it showed \"" +
                                        line_at(shown, static_cast<std::size_t>(m.position(0))) + "\"";
                return false;
            }
            if (r.kind != Console::Read::Found && !last) {
                result_.console_words = "\"" + c_.then[i] + "\" did not give the prompt back";
                return false;
            }
        }
        return true;
    }

    // Compiled once, at the first use.
    const std::regex& prompt_pattern() {
        if (!prompt_) prompt_ = pattern(c_.prompt, "the prompt");
        return *prompt_;
    }

    static std::regex pattern(const std::string& text, const char* what) {
        try {
            return std::regex(text);
        } catch (const std::regex_error&) {
            throw Failure(err::InvalidPropertyValue, std::string(what) + " \"" + text + "\" is no regular expression");
        }
    }

    // The line of `text` that holds position `at`.
    static std::string line_at(const std::string& text, std::size_t at) {
        const std::size_t before = text.find_last_of("\r\n", at);
        const std::size_t begin = before == std::string::npos ? 0 : before + 1;
        return text.substr(begin, text.find_first_of("\r\n", at) - begin);
    }

    // The console's last line with text, for an ending that quotes it.
    static std::string last_words(const std::string& text) {
        std::size_t end = text.find_last_not_of("\r\n ");
        if (end == std::string::npos) return {};
        const std::size_t start = text.find_last_of("\r\n", end);
        return text.substr(start == std::string::npos ? 0 : start + 1, end + 1 - (start == std::string::npos ? 0 : start + 1));
    }

    // Every block was acknowledged: a port that goes away now (a receiver
    // that exits as it answers the EOT, taking its pty along) leaves only
    // the end unanswered, and is said so, not as a disconnection mid-transfer.
    Sent end_of_transmission() {
        static constexpr std::uint8_t eot[] = {wire::EOT};
        try {
            return send_frame(Transmission::EndOfTransmission, eot, timing.eot_sends, timing.end_wait);
        } catch (const Failure& f) {
            if (f.number() != err::PortGone) throw;
            result_.error_number = f.number();
            result_.error_text = f.what();
            return Sent::RetryLimit;
        }
    }

    // Once EOT is acknowledged the receiver may go away with its port (a
    // USB bootloader that starts what it received): that is no failure.
    bool asks_again_after_the_end() {
        try {
            return listen_for_request(timing.restart_window).kind == Heard::Byte;
        } catch (const Failure&) {
            return false;
        }
    }

    // Every byte of the file has arrived once its EOT was acknowledged
    // (block 0 gave its length): the empty block 0 only ends the batch, and
    // an answer that never comes, or a port that goes away, is said, not
    // counted as a failure.
    void end_batch() {
        try {
            const Heard h = listen_for_request(timing.end_wait);
            if (h.kind == Heard::Byte &&
                send_frame(Transmission::Header, standard_frame({}, 128, 0, check_, 0), timing.batch_end_sends,
                           timing.end_wait) == Sent::Acked)
                return;
        } catch (const Failure&) {
        }
        result_.batch_end_unanswered = true;
    }

    // What waited when the port was opened: a receiver's request is kept,
    // unless a cancel came after it (that receiver has given up); a cancel
    // or text left from an earlier transfer is no answer to this one.
    void keep_only_requests(const std::string& before = {}) {
        int request = -1;  // none
        for (const char ch : before) {
            const auto b = static_cast<std::uint8_t>(ch);
            if (b == wire::START || b == wire::NAK) request = b;
            if (b == wire::CAN) request = -1;
        }
        // What waited then, not what a chatty console keeps sending.
        for (int left = c_.link.InBufferCount(); left > 0;) {
            const std::vector<std::uint8_t> got = c_.link.Input();
            if (got.empty()) break;
            left -= static_cast<int>(got.size());
            for (const std::uint8_t b : got) {
                if (b == wire::START || b == wire::NAK) request = b;
                if (b == wire::CAN) request = -1;
            }
        }
        if (request >= 0) pending_.push_back(static_cast<std::uint8_t>(request));
    }

    // Sends `frame` until the receiver acknowledges it, `sends` times at
    // most, each answer awaited `wait` seconds. NAK or silence sends it
    // again, and so does 'C': a receiver that missed a frame asks for it as
    // it asked for the first (U-Boot every second), instead of waiting out
    // its own timeout for a NAK.
    Sent send_frame(Transmission kind, std::span<const std::uint8_t> frame, int sends = timing.retries + 1,
                    double wait = timing.answer_wait) {
        for (int attempt = 0; attempt < sends; ++attempt) {
            if (kind == Transmission::EndOfTransmission) phase(Phase::Ending, attempt);
            if (attempt > 0) ++result_.retries;
            pause_and_clear();
            if (stop_requested()) return Sent::Stopped;  // no frame goes out after a Stop
            transmit(kind, frame);
            const Heard h = listen(wait, {wire::ACK, wire::NAK, wire::START});
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
        case Sent::Cancelled:
            // An XMODEM sender's first block is refused at once by a YMODEM
            // receiver (rb), which wants block 0.
            if (result_.protocol != Protocol::Ymodem && result_.blocks_acknowledged == 0) hint(Hint::ExpectsYmodem);
            return clean_up(tell(UploadEnd::CancelledByDevice, text::kCancelled));
        case Sent::Stopped:
            cancel(Phase::Stopping);
            c_.displays.set_percent_text("");
            return clean_up(tell(UploadEnd::StoppedCancelSent, text::kStopped));
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
    // `also` is another request to take (YMODEM-g's 'G'), or 0 for none.
    Heard listen_for_request(double seconds, std::uint8_t also = 0) {
        Heard h = also ? listen(seconds, {wire::START, wire::NAK, also}) : listen(seconds, {wire::START, wire::NAK});
        while (h.kind == Heard::Byte && arrived()) {
            const std::uint8_t b = take();
            if (b == wire::START || b == wire::NAK || (also && b == also && standing_alone(b))) h.byte = b;
        }
        return h;
    }

    // A 'G' among letters is a banner's text ("GD32 bootloader"), not YMODEM-g's request.
    bool standing_alone(std::uint8_t b) {
        const auto letter = [](std::uint8_t x) { return std::isalnum(x) != 0; };
        return b != kStreaming || (!letter(previous_) && !(arrived() && letter(pending_.front())));
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
            if (std::find(wanted.begin(), wanted.end(), b) != wanted.end() && standing_alone(b)) return {Heard::Byte, b};
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
        previous_ = last_taken_;
        const std::uint8_t b = pending_.front();
        pending_.pop_front();
        last_taken_ = b;
        if (after_end_) after_end_->push_back(static_cast<char>(b));
        heard_anything_ = true;
        last_heard_ = c_.clock.now();
        if (c_.observer) c_.observer->on_reply(Reply{classify_reply(b), b}, last_heard_);
        return b;
    }

    std::string name_;
    bool asked_ = false;           // the receiver asked for the first block
    bool heard_anything_ = false;  // any byte since the opening
    std::uint8_t last_taken_ = 0, previous_ = 0;  // the last byte taken, and the one before it
    Check check_ = Check::Crc16;
    std::deque<std::uint8_t> pending_;  // received, not yet looked at
    double last_heard_ = 0;             // when the last byte was taken
    std::optional<std::string> after_end_;  // with a console: what was taken after the end was acknowledged
    Console console_{c_.link, c_.clock, c_.form, c_.observer};
    std::optional<std::regex> prompt_;
};

}  // namespace

UploadResult run_standard_upload(const UploadContext& context, const std::string& path_text,
                                 const std::string& file_name) {
    return StandardUpload(context).send(path_text, file_name);
}

}  // namespace vq
