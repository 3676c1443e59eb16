#include "protocol/image_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <sys/stat.h>
#include <sys/types.h>
#ifdef _WIN32
#include <io.h>
#endif

#include "protocol/failure.h"

namespace vq {
namespace {

// "permission denied": the system's text for an error, to stand inside a sentence.
std::string system_text(int error) {
    std::string text = std::strerror(error);
    if (text.size() > 1 && text[0] >= 'A' && text[0] <= 'Z' && !(text[1] >= 'A' && text[1] <= 'Z'))
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

// The length of an open file in one call, 64 bits wide, so that files past
// 2 GiB report their true length; -1 with errno set when the system fails.
#ifdef _WIN32
std::int64_t length_of(std::FILE* f) { return _filelengthi64(_fileno(f)); }
#else
std::int64_t length_of(std::FILE* f) {
    struct stat s {};
    return ::fstat(fileno(f), &s) == 0 ? static_cast<std::int64_t>(s.st_size) : -1;
}
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
        const std::int64_t end = length_of(file_);
        if (end < 0) throw unreadable(errno);
        return end;
    }

    std::vector<std::uint8_t> read_all() override {
        const std::int64_t size = length();
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
        std::rewind(file_);
        const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file_);
        if (std::ferror(file_)) throw unreadable(errno);
        if (got != bytes.size())
            throw Failure(err::InputPastEnd, "The file shrank while it was read: " + name_);
        return bytes;
    }

private:
    Failure unreadable(int error) const {
        return Failure(err::DeviceIo, "The file could not be read (" + system_text(error) + "): " + name_);
    }

    std::FILE* file_;
    std::string name_;
};

}  // namespace

std::filesystem::path path_from_utf8(const std::string& name) {
    try {
        return std::filesystem::path(std::u8string(reinterpret_cast<const char8_t*>(name.data()), name.size()));
    } catch (const std::exception&) {
        // Not UTF-8 (Windows hands the environment over in its ANSI code
        // page): taken as the system's own narrow text.
        return std::filesystem::path(name);
    }
}

std::FILE* fopen_utf8(const std::string& name, const char* mode) {
#ifdef _WIN32
    const std::wstring wide_mode(mode, mode + std::strlen(mode));
    return _wfopen(path_from_utf8(name).c_str(), wide_mode.c_str());
#else
    return std::fopen(name.c_str(), mode);
#endif
}

std::string utf8_from_path(const std::filesystem::path& path) {
    const std::u8string utf8 = path.u8string();
    return std::string(reinterpret_cast<const char*>(utf8.data()), utf8.size());
}

std::unique_ptr<ImageFile> LocalFileSystem::open_image(const std::string& name) {
    const std::filesystem::path path = path_from_utf8(name);
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status)) throw Failure(err::PathFileAccess, "No such file: " + name);
    if (!std::filesystem::is_regular_file(status)) throw Failure(err::PathFileAccess, "Not a regular file: " + name);
    std::FILE* file = fopen_utf8(name, "rb");  // "rb" never creates a file
    if (!file)
        throw Failure(err::PathFileAccess, "The file cannot be read (" + system_text(errno) + "): " + name);
    return std::make_unique<LocalImageFile>(file, name);
}

}  // namespace vq
