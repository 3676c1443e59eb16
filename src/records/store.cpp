#include "records/store.h"

#include <cstdlib>
#include <filesystem>

#include "protocol/image_file.h"

namespace vq::records {

std::optional<RecordsTarget> parse_records_target(const std::string& text, std::string* error) {
    if (text == "none") return RecordsTarget{RecordsTarget::None, {}};
    if (text.starts_with("sqlite:") && text.size() > 7) return RecordsTarget{RecordsTarget::Sqlite, text.substr(7)};
    if ((text.starts_with("postgresql://") || text.starts_with("postgres://")))
        return RecordsTarget{RecordsTarget::Postgres, text};
    if (error)
        *error = "records \"" + text + "\" names no place for them: none, sqlite:PATH or postgresql://...";
    return std::nullopt;
}

std::string records_target_text(const RecordsTarget& target) {
    switch (target.kind) {
    case RecordsTarget::None: return "none";
    case RecordsTarget::Sqlite: return "sqlite:" + target.location;
    default: return target.location;
    }
}

std::optional<RecordsTarget> chosen_records_target(const std::string& given, const char* environment,
                                                   std::string* error) {
    const std::string named = !given.empty() ? given : environment ? environment : "";
    if (named.empty()) return default_records_target();
    return parse_records_target(named, error);
}

std::string default_records_folder() {
#ifdef _WIN32
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    return utf8_from_path(std::filesystem::path(local ? local : L".") / L"Vellquin Tool");
#else
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/')
        return std::string(data) + "/vellquin-tool";
    const char* home = std::getenv("HOME");
    return std::string(home ? home : ".") + "/.local/share/vellquin-tool";
#endif
}

std::string default_records_file() {
    return utf8_from_path(path_from_utf8(default_records_folder()) / "records.sqlite");
}

std::string default_spool_file() {
    return utf8_from_path(path_from_utf8(default_records_folder()) / "spool.sqlite");
}

RecordsTarget default_records_target() {
    if (!records_built()) return {};
    return {RecordsTarget::Sqlite, default_records_file()};
}

std::unique_ptr<RecordStore> open_store(const RecordsTarget& target, bool create) {
    switch (target.kind) {
    case RecordsTarget::Sqlite: return open_sqlite_store(target.location, create);
    case RecordsTarget::Postgres: return open_server_store(target.location);
    default: return nullptr;
    }
}

}  // namespace vq::records
