#pragma once
// A receiver of the standard protocols (XMODEM, XMODEM-1K, YMODEM) on the
// fake link and the virtual clock, as lrzsz and U-Boot behave, with the
// habits each test gives it. It asks for the first block until one comes,
// checks every frame as the protocols say, and answers 1 ms after each
// transmission.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "protocol/frame.h"
#include "protocol/standard_frame.h"
#include "protocol/upload.h"
#include "support/fake_link.h"
#include "support/virtual_clock.h"

namespace vq::test {

using Bytes = std::vector<std::uint8_t>;

class StandardReceiver {
public:
    StandardReceiver(FakeLink& link, VirtualClock& clock, Protocol protocol)
        : link_(link), clock_(clock), protocol_(protocol), expect_header_(protocol == Protocol::Ymodem) {
        link_.on_output = [this](std::span<const std::uint8_t> bytes) { hear(Bytes(bytes.begin(), bytes.end())); };
    }

    // Asks with `request` from `first` on, every `every` seconds, `times` times.
    void ask(std::uint8_t request, double first = 0.5, double every = 3.0, int times = 1000) {
        request_ = request;
        for (int i = 0; i < times; ++i)
            clock_.at(first + every * i, [this, request] {
                if (!started_) link_.deliver({request});
            });
    }

    bool nak_duplicates = false;      // some receivers NAK a block they already have
    int lose_ack_of = -1;             // the first ACK of this data block never arrives
    std::vector<Bytes> eot_answers{{wire::ACK}};  // to each EOT in turn; the last one repeats
    double empties_input_for = 0;     // after each answer, as lrzsz does: a frame arriving meanwhile is lost
    std::function<std::optional<Bytes>(const Bytes&)> script;  // answers instead, when it returns a value

    Bytes data;
    std::string name;
    std::string length;  // as block 0 gave it
    bool batch_ended = false, cancelled = false;
    std::vector<Bytes> heard;
    int naks_sent = 0;

private:
    void hear(Bytes bytes) {
        heard.push_back(bytes);
        if (script)
            if (auto answer = script(bytes)) return answer_with(*answer);
        const std::uint8_t first = bytes.front();
        if (first == wire::CAN) {
            cancelled = true;
            return;
        }
        if (clock_.now() < deaf_until_) return answer_with({wire::NAK});  // its start was swallowed
        if (first == wire::EOT) {
            Bytes answer = eot_answers[std::min(eots_++, eot_answers.size() - 1)];
            if (protocol_ == Protocol::Ymodem && answer.front() == wire::ACK) {
                expect_header_ = true;
                answer.push_back(wire::START);  // for the next file's block 0
            }
            return answer_with(answer);
        }
        started_ = true;
        const std::size_t size = data_size_of(bytes);
        const std::size_t check = request_ == wire::START ? 2 : 1;
        if (size == 0 || bytes.size() != 3 + size + check || bytes[2] != static_cast<std::uint8_t>(~bytes[1]) ||
            bytes != standard_frame(std::span(bytes).subspan(3, size), size, bytes[1],
                                    request_ == wire::START ? Check::Crc16 : Check::Sum8, 0))
            return nak();
        const auto payload = std::span(bytes).subspan(3, size);
        if (expect_header_) {
            if (bytes[1] != 0) return nak();
            expect_header_ = false;
            if (payload[0] == 0) {
                batch_ended = true;
                return answer_with({wire::ACK});
            }
            name = reinterpret_cast<const char*>(payload.data());
            length = reinterpret_cast<const char*>(payload.data() + name.size() + 1);
            return answer_with({wire::ACK, wire::START});
        }
        if (bytes[1] == static_cast<std::uint8_t>(next_ - 1)) return nak_duplicates ? nak() : answer_with({wire::ACK});
        if (bytes[1] != next_) return nak();
        data.insert(data.end(), payload.begin(), payload.end());
        if (++blocks_ == lose_ack_of) {
            ++next_;
            return;
        }
        ++next_;
        answer_with({wire::ACK});
    }

    void nak() {
        ++naks_sent;
        answer_with({wire::NAK});
    }

    void answer_with(Bytes bytes) {
        deaf_until_ = clock_.now() + 0.001 + empties_input_for;
        clock_.after(0.001, [this, bytes] { link_.deliver(bytes); });
    }

    FakeLink& link_;
    VirtualClock& clock_;
    std::uint8_t request_ = wire::START;  // what it asks with: the check it expects
    Protocol protocol_;
    bool expect_header_;
    bool started_ = false;
    std::uint8_t next_ = 1;
    int blocks_ = 0;
    std::size_t eots_ = 0;
    double deaf_until_ = -1;
};

}  // namespace vq::test
