// The records in an SQLite file: WAL, every commit synced, and any number of
// processes and threads writing at once (each waits its turn for up to 5 s).

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "protocol/image_file.h"
#include "records/query.h"
#include "records/store.h"

namespace vq::records {
namespace {

// Marks the file as this program's (PRAGMA application_id): "VQRD".
constexpr int kApplicationId = 0x56515244;
constexpr int kBusyMs = 5000;

// A file that is no SQLite database, or a damaged one, is refused by name.
[[noreturn]] void fail(sqlite3* db, const std::string& where, const std::string& why) {
    const int code = sqlite3_extended_errcode(db) & 0xFF;
    const bool foreign = code == SQLITE_NOTADB || code == SQLITE_CORRUPT;
    throw StoreError(foreign ? StoreError::Refused : StoreError::Failed,
                     where + (foreign ? " is not a records database: " : ": ") + why);
}

class Statement {
public:
    Statement(sqlite3* db, const std::string& sql, const std::string& where) : where_(where) {
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement_, nullptr) != SQLITE_OK)
            fail(db, where_, sqlite3_errmsg(db));
    }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void bind(int index, const std::string& text) {
        sqlite3_bind_text(statement_, index, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    // True while a row is there.
    bool step() {
        const int rc = sqlite3_step(statement_);
        if (rc == SQLITE_ROW) return true;
        if (rc != SQLITE_DONE) fail(sqlite3_db_handle(statement_), where_, sqlite3_errmsg(sqlite3_db_handle(statement_)));
        return false;
    }
    void reset() {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }
    // Valid until the next step.
    std::string_view view(int column) const {
        const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
        return t ? std::string_view(t, static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)))
                 : std::string_view();
    }
    int integer(int column) const { return sqlite3_column_int(statement_, column); }
    sqlite3_stmt* get() const { return statement_; }

private:
    sqlite3_stmt* statement_ = nullptr;
    std::string where_;
};

class SqliteStore final : public RecordStore {
public:
    SqliteStore(const std::string& path, bool create) : path_(path) {
        std::error_code ec;
        const auto folder = path_from_utf8(path).parent_path();
        if (!create && !std::filesystem::exists(path_from_utf8(path), ec))
            throw StoreError(StoreError::Failed, "no records at " + path);
        if (!folder.empty()) std::filesystem::create_directories(folder, ec);
        if (sqlite3_open_v2(path.c_str(), &db_,
                            SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX,
                            nullptr) != SQLITE_OK) {
            const std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
            sqlite3_close(db_);
            throw StoreError(StoreError::Failed, path + " cannot be opened: " + why);
        }
        sqlite3_busy_timeout(db_, kBusyMs);
        try {
            prepare();
        } catch (...) {
            sqlite3_close(db_);
            throw;
        }
    }
    ~SqliteStore() override { sqlite3_close(db_); }

    void put_all(std::span<const UploadRecord> records) override {
        transaction([&] { insert(records); });
    }

    void remove(const std::vector<std::string>& ids) override {
        transaction([&] {
            Statement del(db_, "DELETE FROM uploads WHERE id = ?", path_);
            for (const std::string& id : ids) {
                del.bind(1, id);
                del.step();
                del.reset();
            }
        });
    }

    Rows select(const SqlQuery& query) override {
        Rows rows;
        each_row(query, [&rows](const RowView& row) { rows.emplace_back(row.begin(), row.end()); });
        return rows;
    }

    void each_row(const SqlQuery& query, const std::function<void(const RowView&)>& take) override {
        Statement s(db_, query.sql, path_);
        for (std::size_t i = 0; i < query.params.size(); ++i) s.bind(static_cast<int>(i + 1), query.params[i]);
        RowView row(static_cast<std::size_t>(sqlite3_column_count(s.get())));
        while (s.step()) {
            for (std::size_t c = 0; c < row.size(); ++c) row[c] = s.view(static_cast<int>(c));
            take(row);
        }
    }

    std::string where() const override { return "sqlite:" + path_; }

    std::int64_t next_number(const std::string& name, std::int64_t first, const Opening& opening) override {
        std::int64_t number = 0;
        transaction([&] {
            Statement next(db_, kNextNumberSql, path_);
            next.bind(1, name);
            next.bind(2, std::to_string(first));
            if (next.step()) number = std::stoll(std::string(next.view(0)));
            next.reset();
            if (opening) {
                const UploadRecord record = opening(number);
                insert({&record, 1});
            }
        });
        return number;
    }

private:
    void insert(std::span<const UploadRecord> records) {
        static const std::string sql = put_sql();
        Statement insert(db_, sql, path_);
        for (const UploadRecord& record : records) {
            for (std::size_t i = 0; i < kColumns.size(); ++i) insert.bind(static_cast<int>(i + 1), field_text(record, i));
            insert.step();
            insert.reset();
        }
    }

    template <typename Work>
    void transaction(Work work) {
        exec("BEGIN IMMEDIATE");
        try {
            work();
            exec("COMMIT");
        } catch (...) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

    void exec(const std::string& sql) {
        char* message = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return;
        const std::string why = message ? message : sqlite3_errmsg(db_);
        sqlite3_free(message);
        fail(db_, path_, why);
    }

    int pragma(const char* name) {
        Statement s(db_, std::string("PRAGMA ") + name, path_);
        return s.step() ? s.integer(0) : 0;
    }

    // What the file is, read at one moment: several programs may be making
    // it at once.
    struct Identity {
        int application = 0, tables = 0, version = 0;
    };
    Identity identity() {
        Identity id;
        id.application = pragma("application_id");
        Statement s(db_, "SELECT count(*) FROM sqlite_master", path_);
        if (s.step()) id.tables = s.integer(0);
        id.version = pragma("user_version");
        return id;
    }
    void refuse_unless_ours(const Identity& id) const {
        if (id.application != kApplicationId && id.tables > 0)
            throw StoreError(StoreError::Refused, path_ + " is another program's SQLite database, not a records database");
        if (id.version > kSchemaVersion)
            throw StoreError(StoreError::Refused, path_ + " has records of schema " + std::to_string(id.version) +
                                                      ", newer than this program's " + std::to_string(kSchemaVersion));
    }

    // Refuses another program's file and a newer schema; makes or upgrades
    // ours, holding the file's write lock while it looks again.
    void prepare() {
        exec("BEGIN");
        const Identity seen = identity();
        exec("COMMIT");
        refuse_unless_ours(seen);
        if (seen.version < kSchemaVersion) {
            transaction([&] {
                const Identity now = identity();
                refuse_unless_ours(now);
                if (now.version == kSchemaVersion) return;
                for (const std::string& sql : schema_statements(now.version)) exec(sql);
                exec("PRAGMA application_id=" + std::to_string(kApplicationId));
                exec("PRAGMA user_version=" + std::to_string(kSchemaVersion));
            });
        }
        use_wal();
        exec("PRAGMA synchronous=FULL");
    }

    // Turning a file to WAL needs it to itself for a moment, and SQLite
    // answers "database is locked" at once rather than calling the busy
    // handler: so it is tried again, within the same 5 s the other waits get.
    void use_wal() {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyMs);
        for (int pause_ms = 1;; pause_ms = std::min(pause_ms * 2, 50)) {
            {
                Statement mode(db_, "PRAGMA journal_mode", path_);
                if (mode.step() && mode.view(0) == "wal") return;
            }
            if (sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr) == SQLITE_OK) return;
            if ((sqlite3_errcode(db_) != SQLITE_BUSY && sqlite3_errcode(db_) != SQLITE_LOCKED) ||
                std::chrono::steady_clock::now() >= until)
                fail(db_, path_, sqlite3_errmsg(db_));
            sqlite3_sleep(pause_ms);
        }
    }

    std::string path_;
    sqlite3* db_ = nullptr;
};

}  // namespace

bool records_built() { return true; }

std::unique_ptr<RecordStore> open_sqlite_store(const std::string& path, bool create) {
    return std::make_unique<SqliteStore>(path, create);
}

}  // namespace vq::records
