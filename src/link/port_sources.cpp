#include "link/port_sources.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "protocol/image_file.h"

namespace vq {

bool permitted(const std::string& device) {
#ifdef _WIN32
    (void)device;
    return true;
#else
    return ::access(device.c_str(), R_OK | W_OK) == 0;
#endif
}

bool device_present(const std::string& device) {
#ifdef _WIN32
    const std::string name = device.rfind("\\\\.\\", 0) == 0 ? device.substr(4) : device;
    wchar_t target[512];
    return QueryDosDeviceW(path_from_utf8(name).wstring().c_str(), target, 512) != 0;
#else
    std::error_code ec;
    return std::filesystem::exists(path_from_utf8(device), ec);
#endif
}

std::map<std::string, std::string> serial_links(const std::string& folder) {
    std::map<std::string, std::string> by_device;
    std::error_code ec;
    for (const auto& link : std::filesystem::directory_iterator(path_from_utf8(folder), ec)) {
        const auto target = std::filesystem::canonical(link.path(), ec);
        if (!ec) by_device[utf8_from_path(target)] = utf8_from_path(link.path());
    }
    return by_device;
}

std::unique_ptr<ListPortSource> ListPortSource::of_text(std::string list) {
    auto source = std::make_unique<ListPortSource>();
    source->list_ = std::move(list);
    return source;
}

std::unique_ptr<ListPortSource> ListPortSource::of_file(std::string path) {
    auto source = std::make_unique<ListPortSource>();
    source->file_ = std::move(path);
    return source;
}

std::vector<PortInfo> ListPortSource::present() {
    std::string list = list_;
    if (!file_.empty()) {
        std::ifstream in(path_from_utf8(file_));
        std::stringstream text;
        text << in.rdbuf();
        list = text.str();
        for (char& ch : list)
            if (ch == '\n' || ch == '\r') ch = ':';  // one name a line works as well
    }
    const PortMap named = file_.empty() ? PortMap::from_list(list) : PortMap::from_list(list, "VELLQUIN_PORTS_FILE");
    std::vector<PortInfo> ports;
    for (int n = 1; n <= named.size(); ++n) {
        const PortEntry* e = named.entry(n);
        const bool there = device_present(e->device);
        ports.push_back({e->device, e->description, port_identity("", "", e->device), !there || permitted(e->device), {},
                         !there, true});
    }
    return ports;
}

std::unique_ptr<PortSource> port_source_from_environment() {
    if (const char* file = std::getenv("VELLQUIN_PORTS_FILE"); file && *file) return ListPortSource::of_file(file);
    if (const char* list = std::getenv("VELLQUIN_PORTS"); list && PortMap::from_list(list).size() > 0)
        return ListPortSource::of_text(list);
    return std::make_unique<SystemPortSource>();
}

PortMap openable_ports(const PortBook& book, const PortSource& source) {
    PortMap map = book.map();
#ifdef _WIN32
    // COMn is port n: COM1 to COM9 are tried by opening whether the system
    // lists them or not, as the window's probe does.
    if (dynamic_cast<const SystemPortSource*>(&source)) {
        std::vector<PortEntry> entries;
        for (int n = 1; n <= std::max(9, map.size()); ++n) {
            const PortEntry* e = map.entry(n);
            entries.push_back(e ? *e : PortEntry{n <= 9 ? "COM" + std::to_string(n) : std::string(), {}});
        }
        map = PortMap(std::move(entries));
    }
#else
    (void)source;
#endif
    return map;
}

PortMap PortMap::from_environment_or_system() {
    const auto source = port_source_from_environment();
    PortBook book;
    book.update(source->present());
    return openable_ports(book, *source);
}

}  // namespace vq
