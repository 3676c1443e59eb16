#pragma once
// Files in a fresh temporary folder, removed with the folder. Names are
// UTF-8 on every system.

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace vq::test {

// UTF-8 names as paths and back, made here rather than by the tool's own
// conversion, so that tests of that conversion do not lean on it.
inline std::filesystem::path utf8_path(const std::string& name) {
    return std::u8string(reinterpret_cast<const char8_t*>(name.data()), name.size());
}
inline std::string utf8_name(const std::filesystem::path& path) {
    const std::u8string name = path.u8string();
    return std::string(reinterpret_cast<const char*>(name.data()), name.size());
}

class TempDir {
public:
    TempDir() {
        std::random_device rd;
        path_ = std::filesystem::temp_directory_path() / ("vq-test-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string file(const std::string& name) const { return utf8_name(path_ / utf8_path(name)); }
    std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
        const std::string p = file(name);
        std::ofstream(utf8_path(p), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return p;
    }

private:
    std::filesystem::path path_;
};

}  // namespace vq::test
