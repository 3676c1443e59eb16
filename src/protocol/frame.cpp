#include "protocol/frame.h"

#include <algorithm>

#include "protocol/crc16.h"
#include "protocol/failure.h"

namespace vq {

std::size_t data_size_of(std::span<const std::uint8_t> frame) {
    if (frame.empty()) return 0;
    if (frame[0] == wire::SOH) return 128;
    if (frame[0] == wire::STX) return kBlockSize;
    return 0;
}

bool FrameBuffers::build(std::span<const std::uint8_t> image, std::int64_t length,
                         std::int64_t offset, std::uint8_t number) {
    const auto image_size = static_cast<std::int64_t>(image.size());
    if (length < 1 || length > image_size || offset < 0 || offset >= length)
        throw Failure(err::SubscriptOutOfRange, "block outside the image");

    frame_[0] = wire::STX;
    frame_[1] = number;
    frame_[2] = static_cast<std::uint8_t>(~number);

    const auto block = static_cast<std::int64_t>(kBlockSize);
    const auto data = static_cast<std::size_t>(std::min(block, length - offset));
    const auto first = image.begin() + static_cast<std::ptrdiff_t>(offset);
    std::copy(first, first + static_cast<std::ptrdiff_t>(data), block_.begin());
    std::fill(block_.begin() + static_cast<std::ptrdiff_t>(data),
              block_.begin() + static_cast<std::ptrdiff_t>(kBlockSize), wire::FILL);
    std::copy(block_.begin(), block_.begin() + static_cast<std::ptrdiff_t>(kBlockSize),
              frame_.begin() + 3);

    const auto crc = CRC16(block_);
    frame_[1027] = crc[0];
    frame_[1028] = crc[1];
    return offset >= length - block;
}

}  // namespace vq
