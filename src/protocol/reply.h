#pragma once
// The device answers each transmission with one byte. Reading a reply takes
// the first received byte, classifies it, keeps the count of NAKs in a row
// and discards whatever else has arrived.

#include <cstdint>
#include <optional>

namespace vq {

class SerialLink;

enum ReplyCode : std::int16_t {
    kStartRequest = 0,  // 'C': the device is ready for the first block
    kAck = 1,
    kNak = 2,
    kCancel = 3,
    kNoAnswer = 4,      // any other byte, or nothing
};

// The integers the window shares with the upload, at their start values.
struct FormState {
    std::int16_t reply_code = kNoAnswer;
    std::int16_t nak_count = 0;
    std::int16_t stop_request = 0;
};

std::int16_t classify_reply(std::uint8_t byte);

struct Reply {
    std::int16_t code;
    std::optional<std::uint8_t> byte;  // what was received, if anything
};

// read_reply with the received byte as well, for diagnostics.
Reply read_reply_detail(SerialLink& link, FormState& form);

// Takes one byte from the link (an empty read counts as the digit '0'),
// counts NAKs in a row into form.nak_count (saturating at 32767: NAKs counted
// long ago must never make a later read fail), stores the code in
// form.reply_code, empties the receive buffer and returns the code.
// Link failures pass to the caller.
std::int16_t read_reply(SerialLink& link, FormState& form);

}  // namespace vq
