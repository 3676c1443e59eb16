#include "protocol/frame.h"

#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <vector>

#include "protocol/crc16.h"
#include "protocol/failure.h"

namespace vq {
namespace {

std::vector<std::uint8_t> pattern(std::size_t size, unsigned seed = 1) {
    std::vector<std::uint8_t> image(size);
    std::mt19937 rng(seed);
    for (auto& b : image) b = static_cast<std::uint8_t>(rng());
    return image;
}

// Builds every frame of `image` as the upload would, one per accepted block.
std::vector<std::vector<std::uint8_t>> all_frames(const std::vector<std::uint8_t>& image,
                                                  std::vector<bool>* last_flags = nullptr) {
    FrameBuffers buffers;
    std::vector<std::vector<std::uint8_t>> frames;
    std::uint8_t number = 1;
    const auto length = static_cast<std::int64_t>(image.size());
    for (std::int64_t offset = 0; offset < length; offset += 1024, ++number) {
        const bool last = buffers.build(image, length, offset, number);
        if (last_flags) last_flags->push_back(last);
        frames.emplace_back(buffers.frame().begin(), buffers.frame().end());
    }
    return frames;
}

TEST(Frame, LaysOutEachBlockOfTheImage) {
    struct Case {
        std::size_t image_size;
        std::size_t frame_index;
        std::size_t data_end;  // frame index after the last image byte
        std::size_t image_from;
    };
    const Case cases[] = {
        {1, 0, 4, 0},          // one byte, then 1023 bytes of fill
        {1024, 0, 1027, 0},    // exactly one full block, no fill
        {1025, 1, 4, 1024},    // second frame holds the last byte at index 3
        {3000, 2, 955, 2048},  // bytes 2048..2999 at 3..954, fill at 955..1026
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.image_size);
        const auto image = pattern(c.image_size);
        std::vector<bool> last;
        const auto frames = all_frames(image, &last);
        ASSERT_EQ(frames.size(), (c.image_size + 1023) / 1024);
        EXPECT_EQ(std::count(last.begin(), last.end(), true), 1);
        EXPECT_TRUE(last.back());

        const auto& f = frames[c.frame_index];
        FrameBuffers built;
        built.build(image, static_cast<std::int64_t>(c.image_size), static_cast<std::int64_t>(c.image_from), 1);
        EXPECT_EQ(built.block()[1024], 0) << "the spare element of the block buffer is never written";
        ASSERT_EQ(f.size(), 1030u);
        EXPECT_EQ(f[0], 0x02);
        EXPECT_EQ(f[1], c.frame_index + 1);
        EXPECT_EQ(f[2], 0xFF - (c.frame_index + 1));
        for (std::size_t i = 3; i < c.data_end; ++i) ASSERT_EQ(f[i], image[c.image_from + i - 3]) << i;
        for (std::size_t i = c.data_end; i < 1027; ++i) ASSERT_EQ(f[i], 0xFF) << i;

        std::vector<std::uint8_t> block(f.begin() + 3, f.begin() + 1027);
        block.push_back(0);
        const auto crc = CRC16(block);
        EXPECT_EQ(f[1027], crc[0]);
        EXPECT_EQ(f[1028], crc[1]);
        EXPECT_EQ(f[1029], 0x00);
    }
}

TEST(Frame, NumbersWrapFrom255ToZeroNotToOne) {
    const auto frames = all_frames(pattern(257 * 1024));
    const struct { std::size_t index; std::uint8_t number, complement; } rows[] = {
        {0, 1, 0xFE}, {254, 255, 0x00}, {255, 0, 0xFF}, {256, 1, 0xFE}};
    for (const auto& r : rows) {
        EXPECT_EQ(frames[r.index][1], r.number) << r.index;
        EXPECT_EQ(frames[r.index][2], r.complement) << r.index;
    }
}

TEST(Frame, ControlBytesChangeOnlyIndexZero) {
    FrameBuffers buffers;
    buffers.set_control_byte(wire::WAKE);
    EXPECT_EQ(buffers.frame()[0], 0xAA);
    EXPECT_TRUE(std::all_of(buffers.frame().begin() + 1, buffers.frame().end(), [](auto b) { return b == 0; }))
        << "a wake-up is 0xAA and 1029 zeros";

    const auto image = pattern(5000);
    buffers.build(image, 5000, 2048, 3);
    const std::vector<std::uint8_t> block3(buffers.frame().begin(), buffers.frame().end());
    buffers.set_control_byte(wire::CAN);
    EXPECT_EQ(buffers.frame()[0], 0x18);
    EXPECT_TRUE(std::equal(block3.begin() + 1, block3.end(), buffers.frame().begin() + 1))
        << "a cancel carries bytes 1..1029 of the frame built last";
}

TEST(Frame, BuiltAgainForTheSameBlockIsIdentical) {
    const auto image = pattern(3000);
    FrameBuffers buffers;
    buffers.build(image, 3000, 1024, 2);
    const std::vector<std::uint8_t> first(buffers.frame().begin(), buffers.frame().end());
    buffers.set_control_byte(wire::CAN);
    buffers.build(image, 3000, 1024, 2);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), buffers.frame().begin()));
}

TEST(Frame, RefusesToReadOutsideTheImage) {
    const auto image = pattern(2000);
    FrameBuffers buffers;
    const struct { std::int64_t length, offset; } bad[] = {
        {2001, 1024},  // the file grew past what was loaded
        {2000, 2000},  // offset at the end
        {2000, -1},
        {0, 0},
    };
    for (const auto& b : bad) {
        try {
            buffers.build(image, b.length, b.offset, 1);
            ADD_FAILURE() << "no failure for length " << b.length << " offset " << b.offset;
        } catch (const Failure& f) {
            EXPECT_EQ(f.number(), err::SubscriptOutOfRange);
        }
    }
    EXPECT_TRUE(std::all_of(buffers.frame().begin(), buffers.frame().end(), [](auto v) { return v == 0; }))
        << "a refused build writes nothing";
}

TEST(Frame, RandomImagesComeBackByteForByte) {
    std::mt19937 rng(99);
    for (int run = 0; run < 60; ++run) {
        const std::size_t size = 1 + rng() % 70000;
        const auto image = pattern(size, static_cast<unsigned>(run));
        std::vector<std::uint8_t> rebuilt;
        for (const auto& f : all_frames(image)) rebuilt.insert(rebuilt.end(), f.begin() + 3, f.begin() + 1027);
        ASSERT_GE(rebuilt.size(), size);
        ASSERT_TRUE(std::equal(image.begin(), image.end(), rebuilt.begin())) << "size " << size;
        ASSERT_TRUE(std::all_of(rebuilt.begin() + static_cast<std::ptrdiff_t>(size), rebuilt.end(),
                                [](auto b) { return b == 0xFF; }));
    }
}

}  // namespace
}  // namespace vq
