#pragma once
// The frames of the standard protocols (XMODEM, XMODEM-1K, YMODEM):
//
//   SOH or STX, block number, its complement, 128 or 1024 data bytes,
//   then the CRC-16 high byte first, or the 8-bit sum of the data.
//
// Unlike the device's frames they carry no trailing byte.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "protocol/upload.h"

namespace vq {

// One frame of `block_size` (128 or 1024) data bytes: `data` (at most one
// block) padded with `fill`.
std::vector<std::uint8_t> standard_frame(std::span<const std::uint8_t> data, std::size_t block_size,
                                         std::uint8_t number, Check check, std::uint8_t fill);

// The data of YMODEM's block 0: the file's name, NUL, its length in decimal,
// NUL, the rest zeros, in 128 bytes. nullopt when the name does not fit.
std::optional<std::vector<std::uint8_t>> ymodem_header_data(std::string_view name, std::int64_t length);

// The most bytes of a name YMODEM's block 0 holds beside `length`.
std::size_t ymodem_name_room(std::int64_t length);

}  // namespace vq
