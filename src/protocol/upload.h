#pragma once
// One upload from the press of "Send Data" to its end: open the port, load
// the image, wake the device until it asks for the first block, send the
// blocks with their retries, end the transfer, tell the user, clean up.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/frame.h"
#include "protocol/reply.h"

namespace vq {

class SerialLink;
class Clock;
class Displays;
class MessageBox;
class FileSystem;
class ImageFile;

// The texts the user is shown, exactly as the device tooling has always
// shown them.
namespace text {
inline constexpr const char* kPortInvalid = "Serial port is invalid!";
inline constexpr const char* kPortUsing = "Serial port is using!";
inline constexpr const char* kRejected = "Sending Request is Rejected";
inline constexpr const char* kCancelled = "Sending Cancelled!";
inline constexpr const char* kFinished = "Sending Finished!";
inline constexpr const char* kStopped = "Sending Finised!";
inline constexpr const char* kFileMissing = "File Not Exisits!";
}  // namespace text

namespace timing {
inline constexpr float kAfterLoad = 0.5f;
inline constexpr float kAfterWakeUp = 0.3f;
inline constexpr float kStartPoll = 0.1f;
inline constexpr float kAfterFrame = 0.1f;
inline constexpr float kAfterGiveUpCancel = 0.05f;
inline constexpr float kAfterStopCancel = 0.1f;
inline constexpr float kAfterEot = 0.1f;
inline constexpr int kWakeUpTries = 101;
inline constexpr int kSendsPerBuild = 10;
inline constexpr int kNakLimit = 10;
inline constexpr int kCancelTries = 10;
inline constexpr int kEotTries = 10;
}  // namespace timing

// The largest image: the offset is 32-bit and moves past the last block
// once it is acknowledged, so the last block starts at 2 GiB - 2 KiB at most.
inline constexpr std::int64_t kLargestImage = std::int64_t{2147483647} + 1 - 1024;

// How an upload ended: one value per way out.
enum class UploadEnd {
    NoFileChosen,        // the path box was empty; clean-up only
    InvalidPort,         // "Serial port is invalid!", no clean-up
    PortUnavailable,     // "Serial port is using!", no clean-up
    FileNotFound,        // "File Not Exisits!", no clean-up, port left open
    Rejected,            // CAN while waiting for the start request
    CancelledByDevice,   // CAN answering a data frame
    NakLimit,            // ten NAKs in a row (or ten of one block); the device acknowledged our CAN
    NakLimitNoAck,       // ten NAKs in a row; ten CANs went unanswered
    Finished,            // ACK to an end of transmission
    NoEotAck,            // ten ends of transmission without ACK
    StoppedWaiting,      // Stop while waking or waiting for the start request
    StoppedAcked,        // Stop during the blocks; the device acknowledged our CAN
    StoppedNoAck,        // Stop during the blocks; ten CANs went unanswered
    RetryLimit,          // standard protocols: a frame refused or unanswered ten times; cancel sent
    NoStart,             // standard protocols: the receiver never asked for the first block
    StoppedCancelSent,   // standard protocols: Stop during the blocks; cancel sent (receivers never answer it)
    Restarted,           // standard protocols: the receiver asked for a new start after the end; cancel sent
    NoPrompt,            // console: its prompt never showed; nothing sent
    ReceiverRefused,     // console: the command started no receiver of this protocol; nothing sent
    SizeDiffers,         // console: the receiver reports another size than the file's, or none
    Crc32Differs,        // console: the receiver's crc32 of what it got is not the file's, or it gave none
    CommandFailed,       // console: a command typed after the transfer failed, or never gave the prompt back
    StoppedAtConsole,    // console: Stop once every block was acknowledged, before the receiver's words were read
    Failed,              // any other failure; clean-up, no message
};

// How the upload waits for the device's answers.
enum class Pace {
    Fixed,  // each answer is read after the fixed wait that devices were built against
    Reply,  // each answer is read as soon as it arrives, never later than that wait
};

// What is spoken on the wire. `Device` is the device's own protocol; the
// others are the standard XMODEM (128-byte blocks), XMODEM-1K and YMODEM
// batch transfers that bootloaders and terminal programs speak.
enum class Protocol { Device, Xmodem, Xmodem1k, Ymodem };
inline constexpr Protocol kProtocols[] = {Protocol::Device, Protocol::Xmodem, Protocol::Xmodem1k, Protocol::Ymodem};

// "device", "xmodem", "xmodem-1k" or "ymodem", as options and records name them.
const char* protocol_word(Protocol protocol);
// The protocol a word names, in any case ("YMODEM" too); nullopt for any other word.
std::optional<Protocol> protocol_from_word(std::string_view word);
// The data bytes in one block of the protocol.
std::size_t block_size_of(Protocol protocol);

// How the standard protocols check a block: the receiver's first request
// chooses ('C' for CRC-16, NAK for the 8-bit sum).
enum class Check { Crc16, Sum8 };

// The first request a standard receiver must send, by default: receivers
// are usually started by hand after the sender.
inline constexpr double kDefaultStartWait = 60.0;

// What the other end did that says what it is, or what it expects, beside
// how the upload ends: the words for each point at the likely fix.
enum class Hint {
    None,
    AskedUnwoken,       // device protocol: a start request came before the first wake-up, or only after
                        // wake-ups that got no answer at all, as an XMODEM or YMODEM receiver asks
    Echoes,             // device protocol: the wake-ups came back: a console, not a device
    SilentReceiver,     // standard protocols: nothing at all was heard while waiting for the first request
    ExpectsYmodem,      // XMODEM: the receiver cancelled at the first block, or asked for YMODEM's next file
};

// "asked_unwoken", "echoes", "silent_receiver", "expects_ymodem"; "" for None.
const char* hint_word(Hint hint);

// How an upload asked to go at `asked` is paced: the standard protocols
// always go at the receiver's pace.
inline Pace pace_of(Protocol protocol, Pace asked) { return protocol == Protocol::Device ? asked : Pace::Reply; }

// Every way out of the upload that shows no message box of its own.
bool is_silent(UploadEnd end);
const char* to_string(UploadEnd end);
// One word for each way out, for file names and machine-readable output:
// "finished", "nak_limit", ...
const char* outcome_word(UploadEnd end);
// "fixed" or "reply", as options and machine-readable output name them.
const char* pace_word(Pace pace);

struct UploadResult {
    UploadEnd end = UploadEnd::Failed;
    int error_number = 0;            // for FileNotFound and Failed
    std::string error_text;          // what failed, in plain words
    std::int64_t image_length = -1;  // -1 until the file was loaded
    std::int32_t blocks_total = 0;
    std::int32_t block_index = -1;   // 0-based block being sent at the end, -1 before any
    std::int32_t blocks_acknowledged = 0;
    std::uint8_t block_number = 0;   // its number on the wire
    bool file_empty = false;         // the file had no byte to send
    bool cleanup_failed = false;     // a clean-up step failed (and was contained)
    // The NAK limit was reached by ten refusals of one block, not in a row,
    // beside evidence that the device answers later than the wait (a byte
    // waiting before a send, or refusals right after silent reads): its
    // answers may be taken for the wrong block.
    bool answers_late = false;
    double seconds = 0;              // from the first data frame to the last one acknowledged
    Pace pace = Pace::Fixed;         // how the upload was paced at its end
    Protocol protocol = Protocol::Device;
    int retries = 0;                 // standard protocols: frames sent again, this upload
    double start_wait = 0;           // standard protocols: the wait for the first request, for NoStart
    Hint hint = Hint::None;          // the latest thing the other end gave away
    // YMODEM: every byte arrived (EOT was acknowledged), but the receiver
    // did not answer the empty block 0 that ends the batch.
    bool batch_end_unanswered = false;
    // A receiver started at a console: the protocol and load address it
    // named, the size it reported, and its last words where it failed.
    std::string receiver_protocol, load_address;
    std::optional<std::int64_t> reported_size;
    std::optional<std::uint32_t> reported_crc32, file_crc32;  // with a crc32 check
    std::string console_words;
};

enum class Phase { Starting, WakingUp, WaitingForStart, Sending, GivingUp, Stopping, Ending };

enum class Transmission {
    WakeUp,
    Data,
    Cancel,
    EndOfTransmission,
    Header,  // YMODEM's block 0: the file's name and size, or the empty one that ends the batch
};

// Hears what the upload does, for status displays and traces. The calls come
// on the upload's thread, in order; none of them may throw.
class UploadObserver {
public:
    virtual ~UploadObserver() = default;
    // `attempt` counts tries from 0 in the phases that have them (wake-up,
    // cancels, ends of transmission), else 0.
    virtual void on_phase(Phase, int attempt) { (void)attempt; }
    // A data frame was built for block `index` (0-based) of `total`.
    virtual void on_block(std::int32_t index, std::int32_t total, std::uint8_t number) {
        (void)index, (void)total, (void)number;
    }
    virtual void on_progress(int percent) { (void)percent; }
    // `frame` is every byte of one transmission, as it went out.
    virtual void on_transmission(Transmission, std::span<const std::uint8_t> frame, double time) {
        (void)frame, (void)time;
    }
    virtual void on_reply(const Reply&, double time) { (void)time; }
    // How the upload is paced from here on: at the start of an upload paced
    // by replies, and when it falls back to fixed pacing, saying why.
    virtual void on_pacing(Pace, const std::string& why) { (void)why; }
    // A standard receiver's first request chose how blocks are checked.
    virtual void on_check(Check, std::size_t block_size) { (void)block_size; }
    // The other end gave away what it is (an echo, a request for another
    // protocol); the ending carries the latest such hint as well.
    virtual void on_hint(Hint) {}
    // A console's text: a command typed, or a line it showed.
    virtual void on_console(bool typed, const std::string& text, double time) {
        (void)typed, (void)text, (void)time;
    }
    // How the upload ends, just before a message box says so: the result is
    // final but for the clean-up that follows the box. Endings without a box
    // are known when run_upload returns.
    virtual void on_ending(const UploadResult&) {}
};

// U-Boot's prompts ("=> ", "U-Boot> ") and a shell's ("# ", "$ ", "> "),
// with nothing after them.
inline constexpr const char* kDefaultPrompt = "(=>|#|\\$|>) $";

// What a bootloader's command shows when it fails.
inline constexpr const char* kDefaultFailOn = "Error|error|failed|Unknown command";

struct UploadContext {
    SerialLink& link;
    Clock& clock;
    Displays& displays;
    MessageBox& messages;
    FileSystem& files;
    FormState& form;
    // Opens and configures the chosen port: 0 open, 1 invalid choice,
    // 2 a link operation failed.
    std::function<std::int16_t()> init_serial_port;
    UploadObserver* observer = nullptr;
    // Paced by replies, the upload goes back to fixed pacing for good once a
    // data frame goes unanswered in its time or is refused twice in a row.
    Pace pace = Pace::Fixed;
    Protocol protocol = Protocol::Device;
    // Standard protocols: how long the receiver may take to send its first
    // request, in seconds.
    double start_wait = kDefaultStartWait;
    // The same, keeping what was received before the opening; the standard
    // protocols open with it when it is given.
    std::function<std::int16_t()> open_keeping_received{};
    // YMODEM: the name block 0 gives the file; empty for the file's own.
    std::string send_name{};
    // Standard protocols: a receiver started at a console. `command` is
    // typed at its prompt (`prompt`, a regular expression that matches the
    // end of what the console shows); empty: none. With
    // `protocol_from_receiver` the protocol is the one the receiver names.
    std::string command{};
    std::string prompt{kDefaultPrompt};
    bool protocol_from_receiver = false;
    // With a command: the CRC-32 of bytes (ISO 3309's); when given, the
    // receiver is asked for the crc32 of what it got, which must be the
    // file's (U-Boot's crc32 command).
    std::function<std::uint32_t(std::span<const std::uint8_t>)> crc32{};
    // With a command: typed in order once the transfer is checked, each at
    // the prompt the one before gave back; what one shows must not match
    // `fail_on`. The last may start what was loaded, and need not give the
    // prompt back.
    std::vector<std::string> then{};
    std::string fail_on{kDefaultFailOn};
    // The port is left open after the upload, for a console that follows:
    // what the board prints next is not lost to a closed port.
    bool keep_port_open = false;
};

// Runs one whole upload. `path_text` is what the path box shows (it only
// gates the start); `file_name` is the file that is actually sent.
UploadResult run_upload(const UploadContext& context, const std::string& path_text,
                        const std::string& file_name);

// The percentage shown while the block at `offset` of an image of `length`
// bytes is being sent: the block about to go counts as done.
int progress_percent(std::int64_t offset, std::int64_t length, std::size_t block_size = kBlockSize);

}  // namespace vq
