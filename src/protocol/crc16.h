#pragma once
// CRC-16/XMODEM (polynomial 0x1021, initial value 0, no reflection, no final
// XOR), computed one byte at a time through two byte tables.

#include <array>
#include <cstdint>
#include <span>

namespace vq {

// Entry `index` (0..255) of the high and low byte tables. Any other index is
// a caller error and throws Failure(SubscriptOutOfRange).
std::uint8_t GetCRCHi(std::int32_t index);
std::uint8_t GetCRCLo(std::int32_t index);

// The check value of every element of `data` except the last one, high byte
// first. The block buffer has one spare element at its end that is never
// part of the check; an array of one element (or none) gives {0, 0}.
std::array<std::uint8_t, 2> CRC16(std::span<const std::uint8_t> data);

}  // namespace vq
