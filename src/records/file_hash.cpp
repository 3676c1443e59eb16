#include "records/file_hash.h"

#include <gcrypt.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "protocol/image_file.h"

namespace vq::records {

void start_gcrypt() {
    static const bool ready = [] {
        gcry_check_version(nullptr);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    (void)ready;
}

namespace {

std::string hex(const unsigned char* sha256) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned i = 0; i < 32; ++i) text += {digits[sha256[i] >> 4], digits[sha256[i] & 15]};
    return text;
}

}  // namespace

std::uint32_t crc32_of(std::span<const std::uint8_t> bytes) {
    start_gcrypt();
    unsigned char digest[4];
    gcry_md_hash_buffer(GCRY_MD_CRC32, digest, bytes.data(), bytes.size());
    return static_cast<std::uint32_t>(digest[0]) << 24 | static_cast<std::uint32_t>(digest[1]) << 16 |
           static_cast<std::uint32_t>(digest[2]) << 8 | digest[3];
}

FileHash sha256_of(const std::string& file, const std::function<bool()>& go_on) {
    start_gcrypt();
    FileHash hash;
    // A pipe or a device would block the read, and is never sent anyway.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path_from_utf8(file), ec)) return hash;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(fopen_utf8(file, "rb"), &std::fclose);
    gcry_md_hd_t md = nullptr;
    if (!in || gcry_md_open(&md, GCRY_MD_SHA256, 0) != 0) return hash;
    std::vector<unsigned char> buffer(1 << 20);
    for (;;) {
        if (!go_on()) {
            hash.stopped = true;
            break;
        }
        const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), in.get());
        gcry_md_write(md, buffer.data(), got);
        if (got < buffer.size()) break;
    }
    if (!hash.stopped && !std::ferror(in.get())) hash.hex = hex(gcry_md_read(md, GCRY_MD_SHA256));
    gcry_md_close(md);
    return hash;
}

std::string sha256_hex(std::span<const std::uint8_t> bytes) {
    start_gcrypt();
    unsigned char digest[32];
    gcry_md_hash_buffer(GCRY_MD_SHA256, digest, bytes.data(), bytes.size());
    return hex(digest);
}

}  // namespace vq::records
