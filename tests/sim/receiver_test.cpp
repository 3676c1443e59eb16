#include "sim/receiver.h"

#include <gtest/gtest.h>

#include "protocol/frame.h"

namespace vq::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes control(std::uint8_t byte) {
    Bytes f(kFrameSize, 0);
    f[0] = byte;
    return f;
}

Bytes block(const Bytes& image, std::int64_t offset, std::uint8_t number) {
    FrameBuffers b;
    b.build(image, static_cast<std::int64_t>(image.size()), offset, number);
    return {b.frame().begin(), b.frame().end()};
}

TEST(Receiver, ARefusingDeviceKeepsRefusingUnaskedOnceWokenAndAWillingOneSaysNothing) {
    Receiver refusing(DeviceBehaviour{.reject_wakeups = true});
    EXPECT_EQ(refusing.idle(), Bytes{}) << "not before it was woken";
    EXPECT_EQ(refusing.feed(control(wire::WAKE)), Bytes{wire::CAN});
    EXPECT_EQ(refusing.idle(), Bytes{wire::CAN});
    Receiver willing;
    willing.feed(control(wire::WAKE));
    EXPECT_EQ(willing.idle(), Bytes{});
}

TEST(Receiver, AnswersAWholeTransferAndKeepsTheImage) {
    Bytes image(1500);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7);
    Receiver r;
    EXPECT_EQ(r.feed(control(wire::WAKE)), Bytes{wire::START});
    EXPECT_EQ(r.feed(control(wire::WAKE)), Bytes{}) << "no second start request right behind the first";
    EXPECT_EQ(r.feed(block(image, 0, 1)), Bytes{wire::ACK});
    EXPECT_EQ(r.feed(block(image, 0, 1)), Bytes{wire::ACK}) << "a repeat of the frame just taken";
    Bytes bad = block(image, 1024, 2);
    bad[500] ^= 1;
    EXPECT_EQ(r.feed(bad), Bytes{wire::NAK});
    EXPECT_EQ(r.feed(block(image, 1024, 3)), Bytes{wire::NAK}) << "wrong number";
    EXPECT_EQ(r.feed(block(image, 1024, 2)), Bytes{wire::ACK});
    EXPECT_EQ(r.feed(control(wire::EOT)), Bytes{wire::ACK});
    ASSERT_EQ(r.images().size(), 1u);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), r.images()[0].begin()));
    EXPECT_EQ(r.images()[0].size(), 2048u);
}

TEST(Receiver, FramesTheStreamBy1030ByteTransmissionsWhateverTheChunks) {
    Receiver r;
    Bytes stream = control(wire::WAKE);
    const Bytes eot = control(wire::EOT);
    stream.insert(stream.end(), eot.begin(), eot.end());
    Bytes replies;
    for (std::size_t i = 0; i < stream.size(); i += 7) {
        const std::size_t n = std::min<std::size_t>(7, stream.size() - i);
        const Bytes got = r.feed({stream.data() + i, n});
        replies.insert(replies.end(), got.begin(), got.end());
    }
    EXPECT_EQ(replies, (Bytes{wire::START, wire::ACK}));
    EXPECT_EQ(r.transmissions(), 2);
    // A frame cut short (an adapter unplugged in the middle of it), dropped
    // after a quiet line, leaves the next one whole.
    r.feed({stream.data(), 600});  // of a wake-up
    r.drop_partial_frame();
    EXPECT_EQ(r.feed(eot), Bytes{wire::ACK});
}

TEST(Receiver, ScriptedFaults) {
    const Bytes image(100, 0x11);
    struct Case {
        const char* name;
        DeviceBehaviour behaviour;
        Bytes first_block_reply;
    };
    DeviceBehaviour nak, silent, cancel, noise;
    nak.nak_block = 1, nak.nak_sends = 1;
    silent.silent_to_data = true;
    cancel.cancel_at_block = 1;
    noise.noise = true;
    const Case cases[] = {
        {"nak", nak, {wire::NAK}}, {"silent", silent, {}}, {"cancel", cancel, {wire::CAN}}, {"noise", noise, {0x55}}};
    for (const Case& c : cases) {
        Receiver r(c.behaviour);
        r.feed(control(wire::WAKE));
        EXPECT_EQ(r.feed(block(image, 0, 1)), c.first_block_reply) << c.name;
    }
}

TEST(AddFault, NamesEachFaultAndRefusesAnythingElse) {
    DeviceBehaviour b;
    for (const char* fault : {"silent", "no-eot-ack", "never-start", "reject", "noise", "nak-block=3", "cancel-at=2"})
        EXPECT_TRUE(add_fault(fault, b)) << fault;
    EXPECT_TRUE(b.silent_to_data && b.never_ack_eot && b.never_start && b.reject_wakeups && b.noise);
    EXPECT_EQ(b.nak_block, 3);
    EXPECT_EQ(b.nak_sends, 10);
    EXPECT_EQ(b.cancel_at_block, 2);
    for (const char* bad : {"", "loud", "silent=1", "nak-block", "nak-block=", "nak-block=0", "cancel-at=x2"})
        EXPECT_FALSE(add_fault(bad, b)) << bad;
}

}  // namespace
}  // namespace vq::sim
