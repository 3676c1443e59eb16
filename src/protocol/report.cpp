#include "protocol/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "protocol/failure.h"
#include "protocol/receiver_console.h"
#include "protocol/standard_upload.h"
#include "protocol/transfer_stats.h"

namespace vq {
namespace {

std::string plural(std::int64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string kilobytes_per_second(double bytes_per_second) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f kB/s", bytes_per_second / 1000.0);
    return text;
}

std::string block_words(const UploadResult& r) { return "block " + std::to_string(r.block_index + 1); }

// The other end: the device of the device protocol, or a receiver of the standard ones.
const char* other_end(const UploadResult& r) { return r.protocol == Protocol::Device ? "device" : "receiver"; }

// The blocks acknowledged are counted: a stop is seen before a block is
// sent, or while the end is.
std::string stopped_words(const UploadResult& r, const char* cancel) {
    const std::string acked = r.blocks_acknowledged > 0
                                  ? "after block " + std::to_string(r.blocks_acknowledged) + ", the last the " +
                                        other_end(r) + " acknowledged"
                                  : std::string("before the ") + other_end(r) + " acknowledged a block";
    return "Stopped " + acked + "; " + cancel;
}

std::string failure_words(const UploadResult& r) {
    if (r.file_empty)
        return r.protocol == Protocol::Device ? "The file is empty"
                                              : "The file is empty: XMODEM has no way to send a file of no bytes "
                                                "(YMODEM has: its block 0 gives the size)";
    if (r.error_number == err::Overflow) return "The file is too large: " + r.error_text;
    if (r.error_number == err::DeviceIo || r.error_number == err::InputPastEnd || r.error_number == err::Unsupported)
        return r.error_text;
    if (r.error_number == err::BadFileName)
        return "Send it under a shorter name (--name on the command line): " + r.error_text;
    const std::string where = r.block_index >= 0 ? "during " + block_words(r) : "before the first block";
    // The system's own words for a vanished device mislead ("Inappropriate
    // ioctl for device"); the trace and the log keep them.
    if (r.error_number == err::PortGone) return "The device was disconnected " + where + " (the port went away)";
    if (r.error_number >= 8000 && r.error_number < 9000) {
        return "The device was disconnected or the port failed " + where + ": " + r.error_text;
    }
    return "Failed: " + r.error_text + " (error " + std::to_string(r.error_number) + ")";
}

}  // namespace

std::string hint_words(Hint hint) {
    switch (hint) {
    case Hint::None: return {};
    case Hint::AskedUnwoken:
        return "If this is a bootloader (loadx, loady), choose xmodem, xmodem-1k or ymodem: the other end asked for "
               "the first block without being woken, as XMODEM and YMODEM receivers do";
    case Hint::Echoes: return "The other end echoes what is sent: it is a console, not a device waiting for an upload";
    case Hint::SilentReceiver:
        return "If this is a device of the device protocol, choose device: nothing at all was heard";
    case Hint::ExpectsYmodem: return "Choose ymodem: the receiver may expect YMODEM";
    }
    return {};
}

namespace {

std::string seconds_words(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", seconds);
    return text;
}

// ": it said \"Unknown command 'lody'\"", or nothing.
std::string quoted(const std::string& words) {
    return words.empty() ? std::string() : ": it showed \"" + words + "\"";
}

std::string ending_words(const UploadResult& r, const std::string& port_cause) {
    switch (r.end) {
    case UploadEnd::NoFileChosen: return "No file chosen";
    case UploadEnd::InvalidPort: return "The port choice names no port 1 to 9";
    case UploadEnd::PortUnavailable:
        return port_cause.empty() ? "Could not open the port" : "Could not open the port: " + port_cause;
    case UploadEnd::FileNotFound: return r.error_text;
    case UploadEnd::Rejected: return std::string("The ") + other_end(r) + " rejected the transfer before the first block";
    case UploadEnd::CancelledByDevice:
        return std::string("The ") + other_end(r) + " cancelled the transfer at " + block_words(r);
    case UploadEnd::NakLimit:
    case UploadEnd::NakLimitNoAck:
        if (r.answers_late)
            return "The device's answers come later than the wait, so they may be taken for the wrong block: it "
                   "refused " +
                   block_words(r) + " ten times, with silences between, and the upload gave up";
        return "Gave up: the device refused " + block_words(r) + " ten times in a row";
    case UploadEnd::Finished:
        return "Sent " + plural(r.image_length, "byte", "bytes") + " in " + plural(r.blocks_total, "block", "blocks") +
               (r.seconds > 0 ? " at " + kilobytes_per_second(static_cast<double>(r.image_length) / r.seconds) : "") +
               (r.batch_end_unanswered ? "; the receiver did not answer the end of the batch" : "");
    case UploadEnd::NoEotAck:
        if (r.protocol != Protocol::Device && r.error_number == err::PortGone)
            return "Every block was acknowledged; the port went away before the receiver acknowledged the end (EOT)";
        if (r.protocol != Protocol::Device)
            return "Every block was acknowledged; the receiver did not acknowledge the end (EOT, " +
                   std::to_string(kStandardTiming.eot_sends) + " sends)";
        return "No answer to the end of transmission";
    case UploadEnd::StoppedWaiting: return std::string("Stopped before the ") + other_end(r) + " asked for the first block";
    case UploadEnd::StoppedAcked: return stopped_words(r, "it acknowledged the cancel");
    case UploadEnd::StoppedNoAck: return stopped_words(r, "it did not answer the cancel");
    case UploadEnd::RetryLimit:
        return "Gave up: the receiver did not take " +
               (r.block_index >= 0 ? block_words(r) : std::string("block 0 (the file's name and size)")) + " in " +
               std::to_string(kStandardTiming.retries + 1) + " sends (NAKs or silence); the transfer was cancelled";
    case UploadEnd::NoStart:
        return "Start the receive command (loadx, loady, rx, rb), then send again: the receiver did not ask for the "
               "first block within " +
               seconds_words(r.start_wait);
    case UploadEnd::StoppedCancelSent: return stopped_words(r, "the transfer was cancelled");
    case UploadEnd::Restarted:
        if (r.protocol == Protocol::Device)
            return "The other end acknowledged the end, then asked for a new start: it did not keep the image";
        return "The receiver asked for a new start after block " + std::to_string(r.blocks_acknowledged) +
               ", the last (the transfer was cancelled)";
    case UploadEnd::NoPrompt:
        return "The console showed no prompt within " + seconds_words(r.start_wait) + "; nothing was sent" +
               quoted(r.console_words);
    case UploadEnd::ReceiverRefused:
        if (protocol_for_receiver(r.receiver_protocol, r.protocol))
            return "The receiver names no load address to ask its crc32 of; nothing was sent, and it was cancelled";
        if (r.receiver_protocol == "xmodem" || r.receiver_protocol == "ymodem")
            return "The receiver speaks " + r.receiver_protocol + ", not " + protocol_word(r.protocol) +
                   "; nothing was sent, and it was cancelled";
        if (!r.receiver_protocol.empty())
            return "The receiver speaks " + r.receiver_protocol +
                   ", which is not sent here (xmodem and ymodem are); nothing was sent, and it was cancelled";
        return "The command started no receiver that names its protocol; nothing was sent" + quoted(r.console_words);
    case UploadEnd::SizeDiffers:
        if (!r.reported_size)
            return "Every block was acknowledged, but the receiver reported no size" + quoted(r.console_words);
        return "The receiver reports " + plural(*r.reported_size, "byte", "bytes") + "; the file has " +
               std::to_string(r.image_length);
    case UploadEnd::Crc32Differs: {
        if (!r.reported_crc32) return "The size is the file's, but the receiver gave no crc32" + quoted(r.console_words);
        char words[96];
        std::snprintf(words, sizeof words, "The receiver's crc32 of what it got is %08x; the file's is %08x",
                      *r.reported_crc32, r.file_crc32.value_or(0));
        return words;
    }
    case UploadEnd::CommandFailed: return "The image arrived, but " + r.console_words;
    case UploadEnd::StoppedAtConsole:
        return "Stopped after every block was acknowledged, before the receiver's words after the transfer were read";
    case UploadEnd::Failed: return failure_words(r);
    }
    return "Ended";
}

}  // namespace

std::string describe_end(const UploadResult& r, const std::string& port_cause) {
    const std::string words = ending_words(r, port_cause);
    // The likely cause and its fix first: a status line cut short keeps them.
    return r.hint == Hint::None ? words : hint_words(r.hint) + " \u00B7 " + words;
}

std::string describe_progress(const TransferStats& s, const std::string& stop_hint) {
    const std::string dot = " \u00B7 ";
    const std::string stop_hint_text = stop_hint.empty() ? std::string() : dot + stop_hint;
    // The standard protocols wake nothing: their other end is a receiver.
    const char* other = s.wake_ups() > 0 ? "device" : "receiver";
    // What the other end gave away comes first: it is the likely cause of a long wait.
    const std::string hint = s.hint() == Hint::None ? std::string() : hint_words(s.hint()) + dot;
    switch (s.phase()) {
    case Phase::Starting: return "Opening the port and loading the file";
    case Phase::WakingUp:
        if (s.refused_wake_ups() > 0)
            return hint + "Waking the device: try " + std::to_string(s.attempt() + 1) + " of 101" + dot +
                   "it refused " + plural(s.refused_wake_ups(), "wake-up", "wake-ups") +
                   " (CAN); the wake-ups go on, and a refusal after the last ends the upload" + stop_hint_text;
        return hint + "Waking the device: try " + std::to_string(s.attempt() + 1) + " of 101";
    case Phase::WaitingForStart: {
        std::string refused;
        if (s.refused_wake_ups() > 0 && s.refused_wake_ups() >= s.wake_ups())
            refused = dot + "the device answered every wake-up with CAN: it refuses the upload";
        else if (s.refused_wake_ups() > 0)
            refused = dot + "it refused " + plural(s.refused_wake_ups(), "wake-up", "wake-ups") + " (CAN)";
        return hint + "Waiting for the " + other + " to ask for the first block" + refused + stop_hint_text;
    }
    case Phase::GivingUp:
        // A standard transfer is also cancelled after other failures: the ending says which.
        if (s.wake_ups() == 0) return "Cancelling the transfer";
        return "The device refused block " + std::to_string(s.block_index() + 1) + " ten times: cancelling";
    case Phase::Stopping: return "Stopping: cancelling the transfer";
    case Phase::Ending:
        if (s.wake_ups() == 0)
            return "All blocks sent; ending the transfer: try " + std::to_string(s.attempt() + 1) + " of " +
                   std::to_string(kStandardTiming.eot_sends);
        return "All blocks sent; ending the transfer: try " + std::to_string(s.attempt() + 1) + " of 10";
    case Phase::Sending: break;
    }
    if (s.block_index() < 0) return "Sending the file's name and size (YMODEM's block 0)";
    std::string text = "Block " + std::to_string(s.block_index() + 1) + " of " + std::to_string(s.blocks_total());
    // What needs the user's eye comes before the figures.
    if (s.late_answers() > 0) text += dot + "answers come later than the wait: they may be taken for the wrong block";
    if (const auto rate = s.bytes_per_second())
        text += dot + kilobytes_per_second(*rate) + dot + format_duration(s.seconds_left().value_or(0)) + " left";
    if (s.resends() > 0 || s.naks() > 0)
        text += dot + plural(s.resends(), "resend", "resends") + ", " + plural(s.naks(), "NAK", "NAKs");
    if (s.pace() == Pace::Reply)
        text += dot + "paced by replies";
    else if (!s.fallback_reason().empty())
        text += dot + "fixed pacing since " + s.fallback_reason();
    return text;
}

std::string describe_size(std::int64_t bytes, std::size_t block_size) {
    const auto block = static_cast<std::int64_t>(block_size);
    return plural(bytes, "byte", "bytes") + ", " + plural((bytes + block - 1) / block, "block", "blocks");
}

std::int64_t acknowledged_bytes(const UploadResult& r) {
    return std::min<std::int64_t>(std::int64_t{r.blocks_acknowledged} * static_cast<std::int64_t>(block_size_of(r.protocol)),
                                  std::max<std::int64_t>(r.image_length, 0));
}

int exit_code_for(const UploadResult& r) {
    using namespace exit_code;
    switch (r.end) {
    case UploadEnd::Finished: return kFinished;
    case UploadEnd::NoFileChosen: return kFileMissing;
    case UploadEnd::InvalidPort: return kInvalidPort;
    case UploadEnd::PortUnavailable: return kPortUnavailable;
    case UploadEnd::FileNotFound: return kFileMissing;
    case UploadEnd::Rejected: return kRejected;
    case UploadEnd::CancelledByDevice: return kCancelled;
    case UploadEnd::NakLimit:
    case UploadEnd::NakLimitNoAck: return kNakLimit;
    case UploadEnd::NoEotAck: return kNoEotAck;
    case UploadEnd::StoppedWaiting:
    case UploadEnd::StoppedAcked:
    case UploadEnd::StoppedNoAck:
    case UploadEnd::StoppedCancelSent:
    case UploadEnd::StoppedAtConsole: return kStopped;
    case UploadEnd::RetryLimit: return kRetryLimit;
    case UploadEnd::NoStart: return kNoStart;
    case UploadEnd::Restarted: return kRestarted;
    case UploadEnd::NoPrompt: return kNoPrompt;
    case UploadEnd::ReceiverRefused: return kReceiverRefused;
    case UploadEnd::SizeDiffers: return kSizeDiffers;
    case UploadEnd::Crc32Differs: return kCrc32Differs;
    case UploadEnd::CommandFailed: return kCommandFailed;
    case UploadEnd::Failed:
        if (r.error_number == err::BadFileName) return kUsage;  // the name was refused before anything was sent
        return r.file_empty ? kFileEmpty : kFailed;
    }
    return kFailed;
}

std::string format_duration(double seconds) {
    const long total = std::max(0L, static_cast<long>(std::ceil(seconds)));
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

}  // namespace vq
