#pragma once
// Where records are kept: one interface over the SQLite file on this
// machine and the PostgreSQL server a line of stations shares.

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "records/record.h"

namespace vq::records {

// The schema this program writes; an older one is upgraded, a newer one
// refused.
inline constexpr int kSchemaVersion = 1;

// Why a store failed. Unreachable: the server could not be reached (down,
// refused, credentials, network) and a record may be spooled; Refused: what
// is there is not a records database this program may write (another
// program's file, a corrupted one, a newer schema); Failed: anything else.
class StoreError : public std::runtime_error {
public:
    enum Kind { Unreachable, Refused, Failed };
    StoreError(Kind kind, const std::string& what) : std::runtime_error(what), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

// What a list asks for; empty fields ask nothing.
struct RecordQuery {
    std::string unit{};
    std::string image{};  // a SHA-256 prefix, or a file name
    std::string station{};
    std::string outcome{};
    std::string since{}, until{};  // ISO 8601 dates or times, UTC
    int limit = 0;                 // 0: all
};

class RecordStore {
public:
    virtual ~RecordStore() = default;
    // Commits `record`; one already there with its id is left as it is.
    virtual void put(const UploadRecord& record) = 0;
    // Newest first.
    virtual std::vector<UploadRecord> list(const RecordQuery& query) = 0;
    // Takes out the records with these ids (the spool, once they are sent).
    virtual void remove(const std::vector<std::string>& ids) = 0;
    // "sqlite:/home/ann/.local/share/vellquin-tool/records.sqlite".
    virtual std::string where() const = 0;
};

// Where records go, as --records and VELLQUIN_RECORDS give it: "none",
// "sqlite:PATH", or a libpq URI ("postgresql://..." or "postgres://...").
struct RecordsTarget {
    enum Kind { None, Sqlite, Postgres } kind = None;
    std::string location;  // the path, or the URI
};
// nullopt, with `error` set, for text that names no target.
std::optional<RecordsTarget> parse_records_target(const std::string& text, std::string* error);

// The SQLite file by default, and the spool beside it: in
// $XDG_DATA_HOME/vellquin-tool (else ~/.local/share/vellquin-tool), or
// %LOCALAPPDATA%\Vellquin Tool on Windows.
std::string default_records_folder();
std::string default_records_file();
std::string default_spool_file();

// Whether this build keeps records (the Windows build does not yet), and
// where they go unless told: the default SQLite file, or none.
bool records_built();
RecordsTarget default_records_target();

std::unique_ptr<RecordStore> open_sqlite_store(const std::string& path);
// Connects within 2 s, or throws StoreError::Unreachable.
std::unique_ptr<RecordStore> open_server_store(const std::string& uri);
std::unique_ptr<RecordStore> open_store(const RecordsTarget& target);

}  // namespace vq::records
