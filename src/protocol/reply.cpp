#include "protocol/reply.h"

#include <limits>

#include "protocol/frame.h"
#include "protocol/serial_link.h"

namespace vq {

std::int16_t classify_reply(std::uint8_t byte) {
    switch (byte) {
    case wire::START: return kStartRequest;
    case wire::ACK: return kAck;
    case wire::NAK: return kNak;
    case wire::CAN: return kCancel;
    default: return kNoAnswer;
    }
}

Reply read_reply_detail(SerialLink& link, FormState& form) {
    const std::vector<std::uint8_t> received = link.Input();
    std::optional<std::uint8_t> first;
    if (!received.empty()) first = received.front();
    const std::uint8_t byte = first.value_or(std::uint8_t{'0'});

    if (byte == wire::NAK) {
        if (form.nak_count < std::numeric_limits<std::int16_t>::max()) ++form.nak_count;
    } else {
        form.nak_count = 0;
    }
    form.reply_code = classify_reply(byte);
    link.setInBufferCount(0);
    return {form.reply_code, first};
}

std::int16_t read_reply(SerialLink& link, FormState& form) {
    return read_reply_detail(link, form).code;
}

}  // namespace vq
