#pragma once
// The wire format of the sending side. Every transmission is the same
// 1030-byte frame buffer, sent whole: either a data frame
//
//   [0] 0x02  [1] block number  [2] its complement  [3..1026] 1024 data bytes
//   [1027] CRC high  [1028] CRC low  [1029] 0x00
//
// or a control byte written into index 0, the rest keeping what it held.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace vq {

inline constexpr std::size_t kBlockSize = 1024;
inline constexpr std::size_t kBlockBufferSize = kBlockSize + 1;  // last element never checked
inline constexpr std::size_t kFrameSize = 1030;

namespace wire {
inline constexpr std::uint8_t SOH = 0x01;    // start of a 128-byte block (standard protocols)
inline constexpr std::uint8_t STX = 0x02;    // start of a 1024-byte block
inline constexpr std::uint8_t EOT = 0x04;    // end of transmission
inline constexpr std::uint8_t ACK = 0x06;
inline constexpr std::uint8_t NAK = 0x15;
inline constexpr std::uint8_t CAN = 0x18;
inline constexpr std::uint8_t WAKE = 0xAA;   // wake-up
inline constexpr std::uint8_t START = 0x43;  // 'C', the device asks for the first block
inline constexpr std::uint8_t FILL = 0xFF;   // pads a short last block
inline constexpr std::uint8_t CPMEOF = 0x1A; // pads a short last block (standard protocols)
}  // namespace wire

// The data bytes a frame carries, from its first byte: 128 after SOH, 1024
// after STX, 0 for anything else (a control byte).
std::size_t data_size_of(std::span<const std::uint8_t> frame);

// The block buffer and the frame buffer of one upload; both start as zeros.
class FrameBuffers {
public:
    // Builds the data frame of the block that starts at `offset` in an image
    // of `length` bytes, numbered `number`. Returns true when this block
    // reaches the end of the image (the last-block condition).
    //
    // `length` must be 1..image.size() and `offset` 0..length-1; anything else
    // would read outside the image and throws Failure(SubscriptOutOfRange)
    // before a byte is written.
    bool build(std::span<const std::uint8_t> image, std::int64_t length, std::int64_t offset,
               std::uint8_t number);

    // Writes `byte` into index 0 of the frame buffer and nothing else.
    void set_control_byte(std::uint8_t byte) { frame_[0] = byte; }

    std::span<const std::uint8_t, kFrameSize> frame() const { return frame_; }
    std::span<const std::uint8_t, kBlockBufferSize> block() const { return block_; }

private:
    std::array<std::uint8_t, kBlockBufferSize> block_{};
    std::array<std::uint8_t, kFrameSize> frame_{};
};

}  // namespace vq
