#pragma once
// The SHA-256 of an image, for the logs and JSON, with libgcrypt: it uses
// the processor's SHA instructions where there are any, about ten times
// as fast as a portable implementation.

#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace vq::records {

struct FileHash {
    std::string hex;       // lowercase; empty when the file could not be read
    bool stopped = false;  // `go_on` said no before the end
};

// libgcrypt made ready once, from whichever thread asks first.
void start_gcrypt();

// Reads `file` a megabyte at a time and asks `go_on` before each read.
FileHash sha256_of(const std::string& file, const std::function<bool()>& go_on);

// The SHA-256 of `bytes`, lowercase hex.
std::string sha256_hex(std::span<const std::uint8_t> bytes);

// The CRC-32 of ISO 3309 (zlib's, and U-Boot's crc32 command's) of `bytes`.
std::uint32_t crc32_of(std::span<const std::uint8_t> bytes);

}  // namespace vq::records
