#include "protocol/crc16.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "protocol/failure.h"

namespace vq {
namespace {

// CRC-16/XMODEM bit by bit, written from the definition, to check the tables.
std::uint16_t reference_crc(const std::vector<std::uint8_t>& data) {
    std::uint16_t crc = 0;
    for (std::uint8_t byte : data) {
        crc ^= static_cast<std::uint16_t>(byte << 8);
        for (int i = 0; i < 8; ++i)
            crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

std::uint16_t as16(std::array<std::uint8_t, 2> r) { return static_cast<std::uint16_t>(r[0] << 8 | r[1]); }

TEST(CrcTables, AgreeWithTheTellingRowsOfTheCcittTable) {
    const struct { int index; std::uint16_t entry; } rows[] = {
        {0, 0x0000}, {1, 0x1021}, {2, 0x2042}, {3, 0x3063}, {8, 0x8108}, {129, 0x81A9}, {255, 0x1EF0}};
    for (const auto& row : rows) {
        EXPECT_EQ(GetCRCHi(row.index), row.entry >> 8) << row.index;
        EXPECT_EQ(GetCRCLo(row.index), row.entry & 0xFF) << row.index;
    }
}

TEST(CrcTables, RejectIndicesOutsideTheTable) {
    for (int bad : {-1, 256, 100000}) {
        EXPECT_THROW(GetCRCHi(bad), Failure);
        EXPECT_THROW(GetCRCLo(bad), Failure);
    }
}

TEST(Crc16, LeavesOutTheLastElementOfTheArray) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> data;
        std::uint16_t expected;
    };
    std::vector<std::uint8_t> digits{'1', '2', '3', '4', '5', '6', '7', '8', '9', 0xEE};
    std::vector<std::uint8_t> ones(1025, 0xFF);
    ones[1024] = 0x5A;
    const Case cases[] = {
        {"published check of 123456789 plus a spare element", digits, 0x31C3},
        {"1024 bytes of 0xFF plus a spare", ones, 0xC084},
        {"1025 zeros", std::vector<std::uint8_t>(1025, 0), 0x0000},
        {"a single element", {0x42}, 0x0000},
        {"no element", {}, 0x0000},
    };
    for (const Case& c : cases) EXPECT_EQ(as16(CRC16(c.data)), c.expected) << c.name;
}

TEST(Crc16, NeverDependsOnTheSpareElementOfTheBlockBuffer) {
    std::vector<std::uint8_t> block(1025);
    std::mt19937 rng(7);
    for (auto& b : block) b = static_cast<std::uint8_t>(rng());
    const auto before = CRC16(block);
    for (int v = 0; v < 256; ++v) {
        block[1024] = static_cast<std::uint8_t>(v);
        ASSERT_EQ(CRC16(block), before);
    }
}

TEST(Crc16, AgreesWithABitwiseReferenceOnRandomBlocks) {
    std::mt19937 rng(2026);
    for (int run = 0; run < 1000; ++run) {
        std::vector<std::uint8_t> block(1025);
        for (auto& b : block) b = static_cast<std::uint8_t>(rng());
        const std::vector<std::uint8_t> covered(block.begin(), block.end() - 1);
        ASSERT_EQ(as16(CRC16(block)), reference_crc(covered)) << "run " << run;
    }
}

}  // namespace
}  // namespace vq
