#include "protocol/crc16.h"

#include "protocol/failure.h"

namespace vq {
namespace {

// Entry i is the register left after shifting i, placed in the upper byte,
// eight times through the polynomial, most significant bit first.
constexpr std::uint16_t table_entry(unsigned i) {
    std::uint16_t r = static_cast<std::uint16_t>(i << 8);
    for (int bit = 0; bit < 8; ++bit)
        r = static_cast<std::uint16_t>((r & 0x8000u) ? (r << 1) ^ 0x1021u : (r << 1));
    return r;
}

constexpr std::array<std::uint8_t, 256> make_table(bool high) {
    std::array<std::uint8_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
        const std::uint16_t e = table_entry(i);
        t[i] = static_cast<std::uint8_t>(high ? e >> 8 : e & 0xFFu);
    }
    return t;
}

constexpr auto kHigh = make_table(true);
constexpr auto kLow = make_table(false);

static_assert(kHigh[1] == 0x10 && kLow[1] == 0x21);
static_assert(kHigh[129] == 0x81 && kLow[129] == 0xA9);
static_assert(kHigh[255] == 0x1E && kLow[255] == 0xF0);

std::size_t checked_index(std::int32_t index) {
    if (index < 0 || index > 255)
        throw Failure(err::SubscriptOutOfRange, "CRC table index outside 0..255");
    return static_cast<std::size_t>(index);
}

}  // namespace

std::uint8_t GetCRCHi(std::int32_t index) { return kHigh[checked_index(index)]; }
std::uint8_t GetCRCLo(std::int32_t index) { return kLow[checked_index(index)]; }

std::array<std::uint8_t, 2> CRC16(std::span<const std::uint8_t> data) {
    std::uint8_t hi = 0;
    std::uint8_t lo = 0;
    const std::size_t covered = data.empty() ? 0 : data.size() - 1;
    for (std::size_t k = 0; k < covered; ++k) {
        const std::int32_t t = data[k] ^ hi;
        hi = static_cast<std::uint8_t>(GetCRCHi(t) ^ lo);  // uses the old lo
        lo = GetCRCLo(t);
    }
    return {hi, lo};
}

}  // namespace vq
