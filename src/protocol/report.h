#pragma once
// How an upload ended, in plain words, and as a process exit status.

#include <cstdint>
#include <string>

#include "protocol/upload.h"

namespace vq {

// One line that says how the upload ended, including the endings that show
// no message box ("Gave up: the device refused block 7 ten times in a row").
// `port_cause` says why the port could not be opened, when it could not.
std::string describe_end(const UploadResult& result, const std::string& port_cause = {});

class TransferStats;

// What the upload is doing now, with speed, time left and the resends and
// NAKs so far: "Block 7 of 16 · 10.2 kB/s · 0:01 left · 2 resends, 1 NAK".
// `stop_hint` says how the user gives up ("press Stop to give up"), for the
// phases that can last for ever.
std::string describe_progress(const TransferStats& stats, const std::string& stop_hint = {});

// "20000 bytes, 20 blocks".
std::string describe_size(std::int64_t bytes, std::size_t block_size = 1024);

// The bytes of the image the device acknowledged: the file's length once
// its last block was, else whole blocks.
std::int64_t acknowledged_bytes(const UploadResult& result);

// Exit statuses of the command-line sender: 0 exactly when the device
// acknowledged the end of transmission.
namespace exit_code {
inline constexpr int kFinished = 0;
inline constexpr int kFailed = 1;          // any other failure (a lost port, an unreadable file)
inline constexpr int kUsage = 2;           // bad arguments
inline constexpr int kInvalidPort = 3;
inline constexpr int kPortUnavailable = 4; // busy, not permitted, or failed to open
inline constexpr int kFileMissing = 5;
inline constexpr int kFileEmpty = 6;
inline constexpr int kRejected = 7;        // CAN while waiting for the start request
inline constexpr int kCancelled = 8;       // CAN answering a data frame
inline constexpr int kNakLimit = 9;
inline constexpr int kNoEotAck = 10;
inline constexpr int kStopped = 11;        // Ctrl-C or SIGTERM
inline constexpr int kTimedOut = 12;       // --timeout ran out
inline constexpr int kRetryLimit = 13;     // standard protocols: a frame not taken after ten retries
inline constexpr int kNoStart = 14;        // standard protocols: the receiver never asked for the first block
inline constexpr int kRestarted = 15;      // standard protocols: the receiver asked for a new start after the end
inline constexpr int kNoPrompt = 16;       // --command: the console showed no prompt
inline constexpr int kReceiverRefused = 17;  // --command: no receiver of the protocol started; nothing sent
inline constexpr int kSizeDiffers = 18;    // --command: the receiver reports another size than the file's
inline constexpr int kCrc32Differs = 19;   // --verify crc32: the receiver's crc32 is not the file's
inline constexpr int kCommandFailed = 20;  // --then: a command after the transfer failed
}  // namespace exit_code

int exit_code_for(const UploadResult& result);

// What a hint tells the user to do, cause first: "the other end echoes what
// is sent: it is a console, not a device waiting for an upload". Empty for
// Hint::None.
std::string hint_words(Hint hint);

// "1:05", "0:03"; seconds are rounded up so a transfer never shows 0:00 left
// while it still runs.
std::string format_duration(double seconds);

}  // namespace vq
