#pragma once
// The receiving side of the upload protocol, as a device implements it:
// 'C' to a wake-up, ACK to a good frame (and to a repeat of the frame it
// just took), NAK to a bad one, ACK to a cancel and to the end of
// transmission. The stream is framed by counting 1030-byte transmissions.
// Faults can be scripted to see how the sender copes.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace vq::sim {

struct DeviceBehaviour {
    int nak_block = 0;              // NAK the first `nak_sends` sends of this block (1-based; 0 none)
    int nak_sends = 0;
    bool silent_to_data = false;    // never answer a data frame
    int cancel_at_block = 0;        // answer this block (1-based) with CAN; 0 never
    bool never_ack_eot = false;
    bool never_start = false;       // never send the start request
    int ignore_wakeups = 0;         // stay silent to the first n wake-ups
    bool reject_wakeups = false;    // answer wake-ups with CAN
    bool noise = false;             // answer everything with a byte that means nothing
    bool ack_cancel = true;         // ACK a cancel from the sender
};

// Gives `behaviour` one fault by name: silent, no-eot-ack, never-start,
// reject, noise, nak-block=K or cancel-at=K. False for anything else.
bool add_fault(const std::string& fault, DeviceBehaviour& behaviour);

enum class Event { WakeUp, Block, RepeatedBlock, BadBlock, Cancel, EndOfTransmission, Unknown };

class Receiver {
public:
    explicit Receiver(DeviceBehaviour behaviour = {}) : behaviour_(behaviour) {}

    // Takes the bytes the sender wrote; returns the bytes to answer with.
    std::vector<std::uint8_t> feed(std::span<const std::uint8_t> bytes);
    // What it says unasked while the line is quiet: a device that refuses
    // the upload answers the polls after the wake-ups with CAN, so that a
    // sender that has stopped waking it hears the refusal too.
    std::vector<std::uint8_t> idle() const;
    // Forgets a frame begun and never finished, as a device's receive
    // timeout does: the sender went away in the middle of it (an unplugged
    // adapter), and what comes next starts a frame of its own.
    void drop_partial_frame();

    // Every image taken to the end (an acknowledged end of transmission),
    // with the 0xFF fill of its last block.
    const std::vector<std::vector<std::uint8_t>>& images() const { return images_; }
    // The blocks of the transfer under way.
    const std::vector<std::uint8_t>& current() const { return current_; }
    int transmissions() const { return transmissions_; }
    int count(Event e) const { return counts_[static_cast<int>(e)]; }

    // Hears each transmission: its kind, the block number, and a line that
    // describes it.
    std::function<void(Event, const std::string&)> on_event;

private:
    std::vector<std::uint8_t> handle(std::span<const std::uint8_t, 1030> frame);
    std::vector<std::uint8_t> handle_block(std::span<const std::uint8_t, 1030> frame);
    void note(Event e, const std::string& line);

    DeviceBehaviour behaviour_;
    std::vector<std::uint8_t> pending_;
    std::vector<std::uint8_t> current_;
    std::vector<std::vector<std::uint8_t>> images_;
    std::uint8_t expected_ = 1;
    int block_sends_ = 0;  // sends seen of the block expected next
    int wakeups_ = 0;
    bool answered_last_wakeup_ = false;
    int transmissions_ = 0;
    int counts_[7] = {};
};

}  // namespace vq::sim
