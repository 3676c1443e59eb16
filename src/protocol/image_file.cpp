#include "protocol/image_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <sys/types.h>

#include "protocol/failure.h"

namespace vq {
namespace {

std::string reason(const std::string& name, int error) {
    return name + ": " + std::strerror(error);
}

// 64-bit positions, so that files past 2 GiB report their true length.
#ifdef _WIN32
int seek_end(std::FILE* f) { return _fseeki64(f, 0, SEEK_END); }
std::int64_t tell(std::FILE* f) { return _ftelli64(f); }
#else
int seek_end(std::FILE* f) { return fseeko(f, 0, SEEK_END); }
std::int64_t tell(std::FILE* f) { return ftello(f); }
#endif

class LocalImageFile final : public ImageFile {
public:
    LocalImageFile(std::FILE* file, std::string name) : file_(file), name_(std::move(name)) {}
    ~LocalImageFile() override { std::fclose(file_); }
    LocalImageFile(const LocalImageFile&) = delete;
    LocalImageFile& operator=(const LocalImageFile&) = delete;

    std::int64_t length() override {
        // The length of the open file itself, not of whatever the name
        // points at now.
        if (seek_end(file_) != 0) throw Failure(err::PathFileAccess, reason(name_, errno));
        const std::int64_t end = tell(file_);
        if (end < 0) throw Failure(err::PathFileAccess, reason(name_, errno));
        return end;
    }

    std::vector<std::uint8_t> read_all() override {
        const std::int64_t size = length();
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
        std::rewind(file_);
        const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file_);
        if (got != bytes.size() || std::ferror(file_))
            throw Failure(err::PathFileAccess, name_ + ": the file could not be read whole");
        return bytes;
    }

private:
    std::FILE* file_;
    std::string name_;
};

}  // namespace

std::unique_ptr<ImageFile> LocalFileSystem::open_image(const std::string& name) {
    std::error_code ec;
    const auto status = std::filesystem::status(name, ec);
    if (ec || !std::filesystem::exists(status))
        throw Failure(err::PathFileAccess, name + ": no such file");
    if (!std::filesystem::is_regular_file(status))
        throw Failure(err::PathFileAccess, name + ": not a regular file");
    std::FILE* file = std::fopen(name.c_str(), "rb");  // "rb" never creates a file
    if (!file) throw Failure(err::PathFileAccess, reason(name, errno));
    return std::make_unique<LocalImageFile>(file, name);
}

}  // namespace vq
