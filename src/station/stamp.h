#pragma once
// A unit's serial number stamped into the image before it is sent: the file
// on disk is never changed; the upload reads a copy with the serial written
// at its place, padded with zero bytes to its width.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/image_file.h"

namespace vq::station {

struct SerialStamp {
    std::int64_t offset = 0;  // where in the image
    std::size_t width = 16;   // bytes written there
    std::string format;       // one number, as fmt writes it: "VQ-{:06d}"
    std::int64_t first = 1;   // the first number of a new counter
    // The counter the numbers come from: one per format, whatever the
    // station, so that no two units are given one serial.
    std::string counter() const { return "unit_serial " + format; }
    // The first byte after the serial: an image must be at least this long.
    std::int64_t end() const { return offset + static_cast<std::int64_t>(width); }
};

// Why the image `name`, of `size` bytes, cannot take the stamp's serial;
// empty when it can.
std::string unstampable(const std::string& name, std::int64_t size, const SerialStamp& stamp);

// The serial of `number`; nullopt, with `error` set, when the format takes
// no such number or writes more than the width.
std::optional<std::string> serial_text(const SerialStamp& stamp, std::int64_t number, std::string* error = nullptr);

// `image` with `serial` written at the stamp's offset, zero-padded to its
// width; the image must not be unstampable.
std::vector<std::uint8_t> stamped(std::vector<std::uint8_t> image, const SerialStamp& stamp, const std::string& serial);

// The files an upload reads, each with the serial stamped into it.
class StampedFiles final : public FileSystem {
public:
    StampedFiles(FileSystem& files, SerialStamp stamp, std::string serial)
        : files_(files), stamp_(std::move(stamp)), serial_(std::move(serial)) {}
    std::unique_ptr<ImageFile> open_image(const std::string& name) override;

private:
    FileSystem& files_;
    SerialStamp stamp_;
    std::string serial_;
};

}  // namespace vq::station
