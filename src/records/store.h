#pragma once
// Where records are kept: one interface over the SQLite file on this
// machine and the PostgreSQL server a line of stations shares.

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "records/record.h"

namespace vq::records {

// The schema this program writes; an older one is upgraded, a newer one
// refused.
inline constexpr int kSchemaVersion = 2;

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

// A query: SQL that both databases take, with ? for each parameter.
struct SqlQuery {
    std::string sql;
    std::vector<std::string> params;
};
using Rows = std::vector<std::vector<std::string>>;

// A store is used by one thread at a time; each thread opens its own.
class RecordStore {
public:
    virtual ~RecordStore() = default;
    // Commits the records in one transaction; one already there with its
    // id is left as it is, unless it is an opening record, which this
    // replaces.
    virtual void put_all(std::span<const UploadRecord> records) = 0;
    void put(const UploadRecord& record) { put_all({&record, 1}); }
    // Takes out the records with these ids (the spool, once they are sent).
    virtual void remove(const std::vector<std::string>& ids) = 0;
    // Every row of `query`, each column as text (NULL as empty).
    virtual Rows select(const SqlQuery& query) = 0;
    // The same, one row at a time, each column valid during the call only;
    // a store that can streams them.
    using RowView = std::vector<std::string_view>;
    virtual void each_row(const SqlQuery& query, const std::function<void(const RowView&)>& row) {
        for (const auto& r : select(query)) row(RowView(r.begin(), r.end()));
    }
    // "sqlite:/home/ann/.local/share/vellquin-tool/records.sqlite".
    virtual std::string where() const = 0;
    // The next number of the counter `name` (`first` for a new one), which
    // is used from then on whatever happens: no number is handed out twice,
    // to any station that shares the store. `opening`, when given, makes
    // the record kept in the same transaction; what it throws takes the
    // number back.
    using Opening = std::function<UploadRecord(std::int64_t number)>;
    virtual std::int64_t next_number(const std::string& name, std::int64_t first, const Opening& opening) = 0;
    std::int64_t next_number(const std::string& name, std::int64_t first) { return next_number(name, first, {}); }
};

// Newest first.
std::vector<UploadRecord> list(RecordStore& store, const RecordQuery& query);

// Uploads grouped by image, station, port or day, since a date (empty:
// all): how many, of how many units, how many units passed at their first
// upload in the group, the frames sent again, and the median seconds.
struct YieldRow {
    std::string group;
    long long uploads = 0, units = 0, first_pass = 0, retries = 0;
    double median_seconds = 0;
    // Units whose first upload finished, over units; 0 without units.
    double first_pass_yield() const { return units ? static_cast<double>(first_pass) / static_cast<double>(units) : 0; }
};
enum class YieldBy { Image, Station, Port, Day };
std::vector<YieldRow> yield(RecordStore& store, YieldBy by, const std::string& since);

// Where records go, as --records and VELLQUIN_RECORDS give it: "none",
// "sqlite:PATH", or a libpq URI ("postgresql://..." or "postgres://...").
struct RecordsTarget {
    enum Kind { None, Sqlite, Postgres } kind = None;
    std::string location;  // the path, or the URI
};
// nullopt, with `error` set, for text that names no target.
std::optional<RecordsTarget> parse_records_target(const std::string& text, std::string* error);
// The target as that text again.
std::string records_target_text(const RecordsTarget& target);

// Where records go: `given` (--records), else `environment`
// (VELLQUIN_RECORDS, null when unset), else the default. nullopt, with
// `error` set, for a place that does not parse.
std::optional<RecordsTarget> chosen_records_target(const std::string& given, const char* environment,
                                                   std::string* error);

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

// With `create` false, a file that is not there is not made.
std::unique_ptr<RecordStore> open_sqlite_store(const std::string& path, bool create = true);
// Connects within 2 s, or throws StoreError::Unreachable.
std::unique_ptr<RecordStore> open_server_store(const std::string& uri);
std::unique_ptr<RecordStore> open_store(const RecordsTarget& target, bool create = true);

}  // namespace vq::records
