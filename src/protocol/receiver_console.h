#pragma once
// A receiver started at a console, a bootloader's prompt (U-Boot's "=> "):
// the receive command is typed there, the receiver's own words name the
// protocol it speaks and where the image goes, and once the transfer has
// ended it says how many bytes it got. Its words are taken over what was
// chosen: a receiver that speaks another protocol is refused before any
// frame goes out, and a size that is not the file's fails the upload.

#include <cstdint>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/reply.h"
#include "protocol/serial_link.h"
#include "protocol/upload.h"
#include "protocol/wait.h"

namespace vq {

// "## Ready for binary (ymodem) download to 0x82000000 at 115200 bps...":
// the protocol the receiver names ("ymodem", "xmodem", "kermit") and its
// load address ("0x82000000", empty when it gives none).
struct ReceiverReady {
    std::string protocol;
    std::string address;
};
std::optional<ReceiverReady> receiver_ready(std::string_view text);
// Those words to the end of their line, for Console::read_until.
const std::regex& ready_line();

// "## Total Size      = 0x0001869f = 99999 Bytes": the size the receiver
// reports, the last one in `text`.
std::optional<std::int64_t> reported_size(std::string_view text);

// The protocol sent to a receiver that names `word`, when `chosen` is
// nullopt (taken from the receiver); with a protocol chosen, that one when
// the receiver takes it: XMODEM-1K for "xmodem" (1024-byte blocks fall back
// to 128 when it asks for the sum), YMODEM for "ymodem". nullopt: the
// receiver speaks something else.
std::optional<Protocol> protocol_for_receiver(std::string_view word, std::optional<Protocol> chosen);

// Whether a reported size is the file's: YMODEM's exactly, XMODEM's also
// padded to its last whole block of `block` bytes.
bool size_agrees(Protocol protocol, std::int64_t file, std::int64_t reported, std::size_t block);

// The console on an open port. Every byte typed and every line read goes
// to the observer as text.
class Console {
public:
    Console(SerialLink& link, Clock& clock, FormState& form, UploadObserver* observer)
        : link_(link), clock_(clock), form_(form), observer_(observer) {}

    // Types `text` and a carriage return.
    void type(const std::string& text);

    struct Read {
        enum Kind { Found, TimedOut, Stopped } kind;
        std::string text;                 // everything read, up to the match's end when found
        std::vector<std::string> groups;  // the match and its groups, when found
        std::vector<std::uint8_t> after;  // what came after the match
    };
    // Reads until one of `patterns` is found in what was read since (a
    // pattern that ends in $ matches only with nothing after it: a prompt),
    // for `seconds` at most, or until the user stops. `found` is the index
    // of the pattern found. `already` is text read before, looked at first.
    Read read_until(const std::vector<std::regex>& patterns, double seconds, std::size_t* found = nullptr,
                    std::string already = {});

private:
    SerialLink& link_;
    Clock& clock_;
    FormState& form_;
    UploadObserver* observer_;
};

}  // namespace vq
