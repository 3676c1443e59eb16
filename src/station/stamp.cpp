#include "station/stamp.h"

#include <fmt/format.h>

#include <algorithm>

#include "protocol/failure.h"

namespace vq::station {
namespace {

class MemoryImage final : public ImageFile {
public:
    explicit MemoryImage(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    std::int64_t length() override { return static_cast<std::int64_t>(bytes_.size()); }
    std::vector<std::uint8_t> read_all() override { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

}  // namespace

std::optional<std::string> serial_text(const SerialStamp& stamp, std::int64_t number, std::string* error) {
    std::string text;
    try {
        text = fmt::format(fmt::runtime(stamp.format), number);
    } catch (const fmt::format_error& e) {
        if (error) *error = "\"" + stamp.format + "\" is no format of one number: " + e.what();
        return std::nullopt;
    }
    if (text.size() > stamp.width) {
        if (error) *error = "\"" + text + "\" is longer than the width, " + std::to_string(stamp.width) + " bytes";
        return std::nullopt;
    }
    return text;
}

std::vector<std::uint8_t> stamped(std::vector<std::uint8_t> image, const SerialStamp& stamp, const std::string& serial) {
    const auto at = image.begin() + static_cast<std::ptrdiff_t>(stamp.offset);
    std::fill(at, at + static_cast<std::ptrdiff_t>(stamp.width), std::uint8_t{0});
    std::copy(serial.begin(), serial.end(), at);
    return image;
}

std::string unstampable(const std::string& name, std::int64_t size, const SerialStamp& stamp) {
    return size < stamp.end() ? name + " is too short now for the serial at " + std::to_string(stamp.offset) : std::string();
}

std::unique_ptr<ImageFile> StampedFiles::open_image(const std::string& name) {
    std::vector<std::uint8_t> bytes = files_.open_image(name)->read_all();
    if (const std::string why = unstampable(name, static_cast<std::int64_t>(bytes.size()), stamp_); !why.empty())
        throw Failure(err::PathFileAccess, why);
    return std::make_unique<MemoryImage>(stamped(std::move(bytes), stamp_, serial_));
}

}  // namespace vq::station
