#include "protocol/reply.h"

#include <gtest/gtest.h>

#include "protocol/failure.h"
#include "support/fake_link.h"

namespace vq {
namespace {

struct ReplyTest : ::testing::Test {
    ReplyTest() {
        link.set_port(1, test::PortKind::Opens);
        link.setPortOpen(true);
        link.setInputLen(1);
    }
    std::int16_t read(std::vector<std::uint8_t> bytes) {
        link.deliver(bytes);
        const std::int16_t code = read_reply(link, form);
        EXPECT_EQ(form.reply_code, code) << "reply_code always holds the code just returned";
        EXPECT_EQ(link.waiting(), 0u) << "every other byte is discarded";
        return code;
    }
    test::FakeLink link;
    FormState form;
};

TEST_F(ReplyTest, ClassifiesOnlyTheFirstByte) {
    const struct { std::vector<std::uint8_t> bytes; std::int16_t code; } rows[] = {
        {{}, kNoAnswer},
        {{0x43}, kStartRequest},
        {{0x63}, kNoAnswer},  // lower-case c
        {{0x30}, kNoAnswer},  // what an empty read stands for
        {{0x06}, kAck},
        {{0x15}, kNak},
        {{0x18}, kCancel},
        {{0x00}, kNoAnswer},
        {{0x55, 0x06}, kNoAnswer},
        {{0x06, 0x18, 0x15}, kAck},
    };
    for (const auto& r : rows) EXPECT_EQ(read(r.bytes), r.code);
}

TEST_F(ReplyTest, CountsNaksInARowAndAnythingElseClearsTheCount) {
    for (int i = 0; i < 3; ++i) EXPECT_EQ(read({0x15}), kNak);
    EXPECT_EQ(form.nak_count, 3);
    EXPECT_EQ(read({}), kNoAnswer);
    EXPECT_EQ(form.nak_count, 0);
    read({0x15});
    read({0x06});
    EXPECT_EQ(form.nak_count, 0);
}

TEST_F(ReplyTest, NakCountStopsAt32767WithoutFailing) {
    form.nak_count = 32766;
    EXPECT_EQ(read({0x15}), kNak);
    EXPECT_EQ(form.nak_count, 32767);
    EXPECT_NO_THROW(read({0x15}));
    EXPECT_EQ(form.nak_count, 32767);
    EXPECT_EQ(read({0x06}), kAck);
    EXPECT_EQ(form.nak_count, 0);
}

TEST_F(ReplyTest, NextReadSeesOnlyBytesThatArriveAfterIt) {
    read({0x06, 0x43, 0x43});
    EXPECT_EQ(read({}), kNoAnswer);
}

TEST_F(ReplyTest, LinkFailuresPassToTheCaller) {
    link.vanish();
    EXPECT_THROW(read_reply(link, form), Failure);
}

}  // namespace
}  // namespace vq
