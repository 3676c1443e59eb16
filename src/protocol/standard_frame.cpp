#include "protocol/standard_frame.h"

#include <algorithm>
#include <numeric>
#include <string>

#include "protocol/crc16.h"
#include "protocol/failure.h"
#include "protocol/frame.h"

namespace vq {
namespace {
constexpr std::size_t kHeaderBlock = 128;
}

std::vector<std::uint8_t> standard_frame(std::span<const std::uint8_t> data, std::size_t block_size,
                                         std::uint8_t number, Check check, std::uint8_t fill) {
    if (data.size() > block_size || (block_size != 128 && block_size != kBlockSize))
        throw Failure(err::SubscriptOutOfRange, "block outside the frame");
    const std::size_t check_size = check == Check::Crc16 ? 2 : 1;
    std::vector<std::uint8_t> frame(3 + block_size + check_size, fill);
    frame[0] = block_size == kBlockSize ? wire::STX : wire::SOH;
    frame[1] = number;
    frame[2] = static_cast<std::uint8_t>(~number);
    std::copy(data.begin(), data.end(), frame.begin() + 3);
    const auto block = std::span<const std::uint8_t>(frame).subspan(3, block_size);
    if (check == Check::Crc16) {
        // The check covers every element but the last: give it one more.
        frame[3 + block_size] = 0;
        const auto crc = CRC16(std::span<const std::uint8_t>(frame).subspan(3, block_size + 1));
        frame[3 + block_size] = crc[0];
        frame[4 + block_size] = crc[1];
    } else {
        frame[3 + block_size] = static_cast<std::uint8_t>(std::accumulate(block.begin(), block.end(), 0u));
    }
    return frame;
}

std::size_t ymodem_name_room(std::int64_t length) {
    // name NUL digits NUL
    return kHeaderBlock - 2 - std::to_string(length).size();
}

std::optional<std::vector<std::uint8_t>> ymodem_header_data(std::string_view name, std::int64_t length) {
    if (name.empty() || name.size() > ymodem_name_room(length) || name.find('\0') != std::string_view::npos)
        return std::nullopt;
    std::vector<std::uint8_t> data(kHeaderBlock, 0);
    const std::string size = std::to_string(length);
    std::copy(name.begin(), name.end(), data.begin());
    std::copy(size.begin(), size.end(), data.begin() + static_cast<std::ptrdiff_t>(name.size() + 1));
    return data;
}

}  // namespace vq
