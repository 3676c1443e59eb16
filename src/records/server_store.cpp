// The records on a PostgreSQL server, through libpq. Every call has 2 s:
// a server that does not answer within them is unreachable, as one that is
// down, refuses the connection or the credentials is.

#include <libpq-fe.h>
#include <poll.h>

#include <chrono>
#include <memory>

#include "records/query.h"
#include "records/store.h"

namespace vq::records {
namespace {

constexpr int kAnswerMs = 2000;

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

class ServerStore final : public RecordStore {
public:
    explicit ServerStore(const std::string& uri) : uri_(uri) {
        const char* keys[] = {"dbname", "connect_timeout", "application_name", nullptr};
        const char* values[] = {uri.c_str(), "2", "vellquin-tool", nullptr};
        conn_ = PQconnectdbParams(keys, values, 1);
        if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
            const std::string why = words(conn_ ? PQerrorMessage(conn_) : "out of memory");
            PQfinish(conn_);
            throw StoreError(StoreError::Unreachable, why);
        }
        PQsetNoticeProcessor(conn_, [](void*, const char*) {}, nullptr);  // the server's notices are no one's business here
        try {
            prepare();
        } catch (...) {
            PQfinish(conn_);
            throw;
        }
    }
    ~ServerStore() override { PQfinish(conn_); }

    void put_all(std::span<const UploadRecord> records) override {
        transaction([&] { insert(records); });
    }

    Rows select(const SqlQuery& query) override {
        const Result result = run(numbered_parameters(query.sql), query.params);
        Rows rows(static_cast<std::size_t>(PQntuples(result.get())));
        for (std::size_t row = 0; row < rows.size(); ++row)
            for (int c = 0; c < PQnfields(result.get()); ++c)
                rows[row].push_back(PQgetvalue(result.get(), static_cast<int>(row), c));
        return rows;
    }

    void remove(const std::vector<std::string>& ids) override {
        for (const std::string& id : ids) run("DELETE FROM uploads WHERE id = $1", {id});
    }

    std::string where() const override { return uri_; }

    std::int64_t next_number(const std::string& name, std::int64_t first, const Opening& opening) override {
        std::int64_t number = 0;
        transaction([&] {
            const Result next = run(numbered_parameters(kNextNumberSql), {name, std::to_string(first)});
            number = std::stoll(PQgetvalue(next.get(), 0, 0));
            if (opening) {
                const UploadRecord record = opening(number);
                insert({&record, 1});
            }
        });
        return number;
    }

private:
    template <typename Work>
    void transaction(Work work) {
        run("BEGIN", {});
        try {
            work();
            run("COMMIT", {});
        } catch (...) {
            PQclear(PQexec(conn_, "ROLLBACK"));
            throw;
        }
    }

    void insert(std::span<const UploadRecord> records) {
        static const std::string sql = numbered_parameters(put_sql());
        for (const UploadRecord& record : records) {
            std::vector<std::string> params;
            for (std::size_t i = 0; i < kColumns.size(); ++i) params.push_back(field_text(record, i));
            run(sql, params);
        }
    }

    static std::string words(std::string text) {
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
        return text;
    }

    // Sends `sql` and waits for its one result, 2 s at most.
    Result run(const std::string& sql, const std::vector<std::string>& params) {
        std::vector<const char*> values;
        for (const std::string& p : params) values.push_back(p.c_str());
        if (!PQsendQueryParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr,
                               nullptr, 0))
            throw StoreError(StoreError::Unreachable, words(PQerrorMessage(conn_)));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnswerMs);
        while (PQisBusy(conn_)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                    std::chrono::steady_clock::now());
            pollfd fd{PQsocket(conn_), POLLIN, 0};
            if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count())) == 0)
                throw StoreError(StoreError::Unreachable, "the records server did not answer within 2 s");
            if (!PQconsumeInput(conn_)) throw StoreError(StoreError::Unreachable, words(PQerrorMessage(conn_)));
        }
        Result result(PQgetResult(conn_), &PQclear);
        while (PGresult* more = PQgetResult(conn_)) PQclear(more);
        const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return result;
        const char* state = result ? PQresultErrorField(result.get(), PG_DIAG_SQLSTATE) : nullptr;
        const std::string code = state ? state : "";
        // Connection exceptions (08...), a server shutting down (57P..) or a
        // connection that broke: the server is unreachable.
        const bool gone = PQstatus(conn_) != CONNECTION_OK || code.starts_with("08") || code.starts_with("57P");
        throw StoreError(gone ? StoreError::Unreachable : StoreError::Failed,
                         words(result ? PQresultErrorMessage(result.get()) : PQerrorMessage(conn_)));
    }

    // The schema's version, 0 while there is none.
    int schema_version() {
        const Result exists = run("SELECT to_regclass('vq_schema') IS NOT NULL", {});
        if (std::string(PQgetvalue(exists.get(), 0, 0)) != "t") return 0;
        const Result version = run("SELECT max(version) FROM vq_schema", {});
        return PQgetisnull(version.get(), 0, 0) ? 0 : std::stoi(PQgetvalue(version.get(), 0, 0));
    }

    // Refuses a newer schema; makes or upgrades it on first use, one station
    // at a time. A schema that is current is only read: a reader may look.
    void prepare() {
        int found = schema_version();
        if (found == kSchemaVersion) return;
        // The lock is taken before the transaction, so that what the
        // transaction reads is what the station before it committed.
        run("SELECT pg_advisory_lock(1448169540)", {});  // "VQRD"
        const auto unlock = [this] { PQclear(PQexec(conn_, "SELECT pg_advisory_unlock(1448169540)")); };
        run("BEGIN", {});
        try {
            found = schema_version();
            if (found > kSchemaVersion)
                throw StoreError(StoreError::Refused, uri_ + " has records of schema " + std::to_string(found) +
                                                          ", newer than this program's " + std::to_string(kSchemaVersion));
            if (found < kSchemaVersion) {
                run("CREATE TABLE IF NOT EXISTS vq_schema (version INTEGER NOT NULL)", {});
                for (const std::string& sql : schema_statements(found)) run(sql, {});
                run("DELETE FROM vq_schema", {});
                run("INSERT INTO vq_schema (version) VALUES ($1)", {std::to_string(kSchemaVersion)});
            }
            run("COMMIT", {});
        } catch (...) {
            PQclear(PQexec(conn_, "ROLLBACK"));
            unlock();
            throw;
        }
        unlock();
    }

    std::string uri_;
    PGconn* conn_ = nullptr;
};

}  // namespace

std::unique_ptr<RecordStore> open_server_store(const std::string& uri) { return std::make_unique<ServerStore>(uri); }

}  // namespace vq::records
