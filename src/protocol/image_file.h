#pragma once
// The image file as the upload sees it: opened once, read whole, its length
// asked again at every use, closed when the upload ends.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vq {

class ImageFile {
public:
    virtual ~ImageFile() = default;  // closes the file
    // The current length of the open file, in bytes. Fails with
    // err::DeviceIo when the system cannot tell.
    virtual std::int64_t length() = 0;
    // The whole content, from the first byte. Fails with err::InputPastEnd
    // when the file ends before its length (it shrank while being read),
    // and with err::DeviceIo when it cannot be read.
    virtual std::vector<std::uint8_t> read_all() = 0;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // Opens an existing regular file for reading its raw bytes. Never creates
    // a file. `name` is UTF-8. A name that leads to no file that can be
    // opened (missing, a directory, not permitted) fails with
    // err::PathFileAccess, and nothing else does.
    virtual std::unique_ptr<ImageFile> open_image(const std::string& name) = 0;
};

// A UTF-8 file name as the operating system's path, and back. Windows reads
// narrow names in its ANSI code page, so every file name goes through here.
std::filesystem::path path_from_utf8(const std::string& name);
std::string utf8_from_path(const std::filesystem::path& path);
// std::fopen of a UTF-8 name.
std::FILE* fopen_utf8(const std::string& name, const char* mode);

// The local file system, through the C library.
class LocalFileSystem final : public FileSystem {
public:
    std::unique_ptr<ImageFile> open_image(const std::string& name) override;
};

}  // namespace vq
