#pragma once
// The image file as the upload sees it: opened once, read whole, its length
// asked again at every use, closed when the upload ends.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vq {

class ImageFile {
public:
    virtual ~ImageFile() = default;  // closes the file
    // The current length of the open file, in bytes.
    virtual std::int64_t length() = 0;
    // The whole content, from the first byte. Fails with err::PathFileAccess
    // when the file cannot be read.
    virtual std::vector<std::uint8_t> read_all() = 0;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // Opens an existing regular file for reading its raw bytes. Never creates
    // a file. A missing file, a directory or an unreadable file fails with
    // err::PathFileAccess.
    virtual std::unique_ptr<ImageFile> open_image(const std::string& name) = 0;
};

// The local file system, through the C library.
class LocalFileSystem final : public FileSystem {
public:
    std::unique_ptr<ImageFile> open_image(const std::string& name) override;
};

}  // namespace vq
