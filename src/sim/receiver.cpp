#include "sim/receiver.h"

#include <algorithm>

#include "protocol/crc16.h"
#include "protocol/frame.h"

namespace vq::sim {
namespace {
constexpr std::uint8_t kNoise = 0x55;
}

bool add_fault(const std::string& fault, DeviceBehaviour& b) {
    const auto eq = fault.find('=');
    const std::string name = fault.substr(0, eq);
    int block = 0;
    if (eq != std::string::npos) {
        const std::string value = fault.substr(eq + 1);
        if (value.empty() || value.size() > 6 || value.find_first_not_of("0123456789") != std::string::npos) return false;
        block = std::stoi(value);
        if (block < 1) return false;
    }
    const bool numbered = name == "nak-block" || name == "cancel-at";
    if (numbered != (eq != std::string::npos)) return false;
    if (name == "silent") b.silent_to_data = true;
    else if (name == "no-eot-ack") b.never_ack_eot = true;
    else if (name == "never-start") b.never_start = true;
    else if (name == "reject") b.reject_wakeups = true;
    else if (name == "noise") b.noise = true;
    else if (name == "nak-block") b.nak_block = block, b.nak_sends = std::max(b.nak_sends, 10);
    else if (name == "cancel-at") b.cancel_at_block = block;
    else return false;
    return true;
}

std::vector<std::uint8_t> Receiver::feed(std::span<const std::uint8_t> bytes) {
    std::vector<std::uint8_t> out;
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    std::size_t used = 0;
    while (pending_.size() - used >= kFrameSize) {
        const std::span<const std::uint8_t, kFrameSize> frame(pending_.data() + used, kFrameSize);
        const auto reply = handle(frame);
        out.insert(out.end(), reply.begin(), reply.end());
        used += kFrameSize;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(used));
    return out;
}

void Receiver::drop_partial_frame() {
    if (pending_.empty()) return;
    note(Event::Unknown, "a frame cut short after " + std::to_string(pending_.size()) + " bytes, dropped");
    pending_.clear();
}

std::vector<std::uint8_t> Receiver::idle() const {
    if (behaviour_.reject_wakeups && wakeups_ > 0) return {wire::CAN};
    return {};
}

void Receiver::note(Event e, const std::string& line) {
    ++counts_[static_cast<int>(e)];
    if (on_event) on_event(e, line);
}

std::vector<std::uint8_t> Receiver::handle(std::span<const std::uint8_t, 1030> frame) {
    ++transmissions_;
    if (behaviour_.noise) {
        note(Event::Unknown, "answering with noise");
        return {kNoise};
    }
    switch (frame[0]) {
    case wire::WAKE: {
        ++wakeups_;
        note(Event::WakeUp, "wake-up " + std::to_string(wakeups_));
        if (behaviour_.reject_wakeups) return {wire::CAN};
        if (behaviour_.never_start || wakeups_ <= behaviour_.ignore_wakeups) return {};
        // The sender reads a start request only after its next wake-up; a
        // second 'C' to that wake-up would sit in front of the first ACK.
        // So a wake-up right after one that was answered goes unanswered.
        if (answered_last_wakeup_) {
            answered_last_wakeup_ = false;
            return {};
        }
        answered_last_wakeup_ = true;
        current_.clear();  // a wake-up starts a new transfer
        expected_ = 1;
        block_sends_ = 0;
        return {wire::START};
    }
    case wire::STX:
        answered_last_wakeup_ = false;
        return handle_block(frame);
    case wire::CAN:
        note(Event::Cancel, "cancel after " + std::to_string(current_.size() / kBlockSize) + " blocks");
        current_.clear();
        return behaviour_.ack_cancel ? std::vector<std::uint8_t>{wire::ACK} : std::vector<std::uint8_t>{};
    case wire::EOT:
        note(Event::EndOfTransmission,
             "end of transmission, " + std::to_string(current_.size()) + " bytes received");
        if (behaviour_.never_ack_eot) return {};
        if (!current_.empty()) images_.push_back(current_);
        current_.clear();
        return {wire::ACK};
    default:
        note(Event::Unknown, "unknown transmission starting with " + std::to_string(frame[0]));
        return {};
    }
}

std::vector<std::uint8_t> Receiver::handle_block(std::span<const std::uint8_t, 1030> frame) {
    const std::uint8_t number = frame[1];
    const int block = static_cast<int>(current_.size() / kBlockSize) + 1;  // 1-based, expected next
    std::vector<std::uint8_t> block_buffer(frame.begin() + 3, frame.begin() + 3 + kBlockSize);
    block_buffer.push_back(0);
    const auto crc = CRC16(block_buffer);
    const bool intact = frame[2] == static_cast<std::uint8_t>(~number) && crc[0] == frame[1027] &&
                        crc[1] == frame[1028];

    if (behaviour_.silent_to_data) {
        note(Event::Block, "block " + std::to_string(number) + " (silent)");
        return {};
    }
    if (intact && number == static_cast<std::uint8_t>(expected_ - 1) && !current_.empty()) {
        note(Event::RepeatedBlock, "block " + std::to_string(number) + " again");
        return {wire::ACK};
    }
    if (!intact || number != expected_) {
        note(Event::BadBlock, "bad block " + std::to_string(number) + ", expected " + std::to_string(expected_));
        return {wire::NAK};
    }
    if (block == behaviour_.cancel_at_block) {
        note(Event::Block, "block " + std::to_string(block) + ": cancelling");
        return {wire::CAN};
    }
    if (block == behaviour_.nak_block && block_sends_ < behaviour_.nak_sends) {
        ++block_sends_;
        note(Event::BadBlock, "block " + std::to_string(block) + ": NAK " + std::to_string(block_sends_));
        return {wire::NAK};
    }
    block_sends_ = 0;
    current_.insert(current_.end(), frame.begin() + 3, frame.begin() + 3 + kBlockSize);
    ++expected_;
    note(Event::Block, "block " + std::to_string(block) + " (number " + std::to_string(number) + ")");
    return {wire::ACK};
}

}  // namespace vq::sim
