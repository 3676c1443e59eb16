#include "cli/written_files.h"

#include <filesystem>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "protocol/image_file.h"

namespace vq::cli {

// std::filesystem::equivalent refuses to compare two device nodes, and a
// port is one, so stat(2) does it elsewhere.
bool same_file(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
#ifdef _WIN32
    std::error_code ec;
    return std::filesystem::equivalent(path_from_utf8(a), path_from_utf8(b), ec) && !ec;
#else
    struct stat sa {}, sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
#endif
}

std::string clash_of_written_files(const WrittenFiles& f) {
    struct Written {
        std::string path, what;
    };
    std::vector<Written> written;
    if (!f.trace.empty()) written.push_back({f.trace, "--trace " + f.trace});
    if (!f.log_dir.empty())
        written.push_back({utf8_from_path(path_from_utf8(f.log_dir) / "summary.csv"), "--log " + f.log_dir + " (its summary.csv)"});
    for (const Written& w : written) {
        if (same_file(w.path, f.image)) return w.what + " is the image " + f.image + ": choose another file for it";
        for (const std::string& port : f.port_devices)
            if (same_file(w.path, port)) return w.what + " is the port " + port + ": choose a file for it";
    }
    return {};
}

std::string same_device_twice(const std::vector<std::string>& names, const std::vector<std::string>& devices) {
    for (std::size_t i = 0; i < devices.size(); ++i)
        for (std::size_t j = i + 1; j < devices.size(); ++j)
            if ((!devices[i].empty() && devices[i] == devices[j]) || same_file(devices[i], devices[j]))
                return "--port " + names[i] + " and --port " + names[j] + " are the same device (" + devices[i] +
                       "): give each device once";
    return {};
}

}  // namespace vq::cli
