// The records on a PostgreSQL server from Windows, through the system's
// ODBC (odbc32) and the PostgreSQL ODBC driver (psqlODBC) a factory
// installs. Every call has 2 s: a server that does not answer within them
// is unreachable, as one that is down, refuses the connection or the
// credentials is.

#include <windows.h>

#include <sql.h>
#include <sqlext.h>

#include <string>
#include <vector>

#include "records/query.h"
#include "records/store.h"

namespace vq::records {
namespace {

// The names psqlODBC's installer gives its Unicode driver: the 64-bit one,
// and the one of other builds (and of unixODBC under Wine).
const char* const kDrivers[] = {"PostgreSQL Unicode(x64)", "PostgreSQL Unicode"};
constexpr SQLULEN kAnswerSeconds = 2;

std::wstring wide(const std::string& text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string narrow(const wchar_t* text, std::size_t size) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), out.data(), n, nullptr, nullptr);
    return out;
}

// The first diagnostic of a handle: its SQLSTATE and its words.
std::pair<std::string, std::string> diagnostic(SQLSMALLINT type, SQLHANDLE handle) {
    SQLWCHAR state[6] = {}, message[1024] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRecW(type, handle, 1, state, &native, message, 1024, &length))) return {"", "no reason given"};
    const auto* words = reinterpret_cast<const wchar_t*>(message);
    std::size_t size = static_cast<std::size_t>(length);
    while (size > 0 && (words[size - 1] == L'\n' || words[size - 1] == L' ')) --size;
    return {narrow(reinterpret_cast<const wchar_t*>(state), 5), narrow(words, size)};
}

class OdbcStore final : public RecordStore {
public:
    explicit OdbcStore(const std::string& uri) : uri_(uri) {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
        SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        std::string why = "no PostgreSQL ODBC driver (psqlODBC) is installed";
        for (const char* driver : kDrivers) {
            const auto connection = odbc_connection_string(uri, driver);
            if (!connection) throw StoreError(StoreError::Failed, uri + " is no PostgreSQL URI this build can read");
            SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
            SQLSetConnectAttrW(dbc_, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(kAnswerSeconds), 0);
            SQLSetConnectAttrW(dbc_, SQL_ATTR_CONNECTION_TIMEOUT, reinterpret_cast<SQLPOINTER>(kAnswerSeconds), 0);
            std::wstring text = wide(*connection);
            const SQLRETURN r = SQLDriverConnectW(dbc_, nullptr, reinterpret_cast<SQLWCHAR*>(text.data()), SQL_NTS,
                                                  nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
            if (SQL_SUCCEEDED(r)) {
                connected_ = true;
                break;
            }
            const auto [state, words] = diagnostic(SQL_HANDLE_DBC, dbc_);
            SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
            dbc_ = SQL_NULL_HDBC;
            // A driver that loaded and reached, or failed to reach, the
            // server has said what there is to say; one that is not
            // installed under this name (IM002 on Windows, a library not
            // found under unixODBC) leaves the next name to try.
            if (state.starts_with("08") || state.starts_with("28") || state.starts_with("3D")) {
                why = words;
                break;
            }
            why = "no PostgreSQL ODBC driver (psqlODBC) could be used: " + words;
        }
        if (!connected_) {
            SQLFreeHandle(SQL_HANDLE_ENV, env_);
            throw StoreError(StoreError::Unreachable, why);
        }
        try {
            prepare();
        } catch (...) {
            close();
            throw;
        }
    }
    ~OdbcStore() override { close(); }

    void put_all(std::span<const UploadRecord> records) override {
        transaction([&] { insert(records); });
    }

    Rows select(const SqlQuery& query) override { return run(query.sql, query.params); }

    void remove(const std::vector<std::string>& ids) override {
        for (const std::string& id : ids) run("DELETE FROM uploads WHERE id = ?", {id});
    }

    std::string where() const override { return uri_; }

    std::int64_t next_number(const std::string& name, std::int64_t first, const Opening& opening) override {
        std::int64_t number = 0;
        transaction([&] {
            number = std::stoll(run(kNextNumberSql, {name, std::to_string(first)}).at(0).at(0));
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
        for (const UploadRecord& record : records) {
            std::vector<std::string> params;
            for (std::size_t i = 0; i < kColumns.size(); ++i) params.push_back(field_text(record, i));
            run(sql, params);
        }
    }

    void close() {
        if (dbc_ != SQL_NULL_HDBC) {
            SQLDisconnect(dbc_);
            SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
            dbc_ = SQL_NULL_HDBC;
        }
        if (env_ != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, env_);
        env_ = SQL_NULL_HENV;
    }

    [[noreturn]] void fail(SQLSMALLINT type, SQLHANDLE handle) const {
        const auto [state, words] = diagnostic(type, handle);
        // Connection exceptions (08...), a timeout (HYT..), a server going
        // down (57P..): the server is unreachable.
        const bool gone = state.starts_with("08") || state.starts_with("HYT") || state.starts_with("57P");
        throw StoreError(gone ? StoreError::Unreachable : StoreError::Failed, words);
    }

    // Runs `sql` with its parameters as text; every row, every column as text.
    Rows run(const std::string& sql, const std::vector<std::string>& params) {
        SQLHSTMT st = SQL_NULL_HSTMT;
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &st))) fail(SQL_HANDLE_DBC, dbc_);
        const std::unique_ptr<void, void (*)(void*)> freed(st, [](void* h) { SQLFreeHandle(SQL_HANDLE_STMT, h); });
        SQLSetStmtAttrW(st, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(kAnswerSeconds), 0);
        std::vector<std::wstring> values;
        for (const std::string& p : params) values.push_back(wide(p));
        std::vector<SQLLEN> lengths(values.size(), SQL_NTS);
        for (std::size_t i = 0; i < values.size(); ++i)
            SQLBindParameter(st, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR,
                             values[i].size() + 1, 0, values[i].data(), 0, &lengths[i]);
        std::wstring text = wide(sql);
        const SQLRETURN r = SQLExecDirectW(st, reinterpret_cast<SQLWCHAR*>(text.data()), SQL_NTS);
        if (!SQL_SUCCEEDED(r) && r != SQL_NO_DATA) fail(SQL_HANDLE_STMT, st);
        Rows rows;
        SQLSMALLINT columns = 0;
        SQLNumResultCols(st, &columns);
        while (columns > 0 && SQL_SUCCEEDED(SQLFetch(st))) {
            std::vector<std::string> row;
            for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columns); ++c) {
                std::wstring cell;
                SQLWCHAR part[512];
                SQLLEN got = 0;
                SQLRETURN g;
                // A long cell comes in parts.
                while (SQL_SUCCEEDED(g = SQLGetData(st, c, SQL_C_WCHAR, part, sizeof part, &got)) && got != SQL_NULL_DATA) {
                    const auto* chars = reinterpret_cast<const wchar_t*>(part);
                    cell.append(chars, std::wcslen(chars));
                    if (g == SQL_SUCCESS) break;
                }
                row.push_back(narrow(cell.data(), cell.size()));
            }
            rows.push_back(std::move(row));
        }
        return rows;
    }

    template <typename Work>
    void transaction(Work work) {
        SQLSetConnectAttrW(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0);
        try {
            work();
            if (!SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT))) fail(SQL_HANDLE_DBC, dbc_);
        } catch (...) {
            SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
            SQLSetConnectAttrW(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
            throw;
        }
        SQLSetConnectAttrW(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
    }

    int schema_version() {
        if (run("SELECT CASE WHEN to_regclass('vq_schema') IS NULL THEN 0 ELSE 1 END", {}).at(0).at(0) != "1") return 0;
        const std::string version = run("SELECT max(version) FROM vq_schema", {}).at(0).at(0);
        return version.empty() ? 0 : std::stoi(version);
    }

    // As the Linux build's: a current schema is only read.
    void prepare() {
        if (schema_version() == kSchemaVersion) return;
        // The lock is taken before the transaction, so that what the
        // transaction reads is what the station before it committed.
        run("SELECT pg_advisory_lock(1448169540)", {});  // "VQRD"
        struct Unlock {
            OdbcStore& store;
            ~Unlock() {
                try {
                    store.run("SELECT pg_advisory_unlock(1448169540)", {});
                } catch (const StoreError&) {
                    // a connection that broke has given its locks back
                }
            }
        } unlock{*this};
        transaction([&] {
            const int found = schema_version();
            if (found > kSchemaVersion)
                throw StoreError(StoreError::Refused, uri_ + " has records of schema " + std::to_string(found) +
                                                          ", newer than this program's " + std::to_string(kSchemaVersion));
            if (found == kSchemaVersion) return;
            run("CREATE TABLE IF NOT EXISTS vq_schema (version INTEGER NOT NULL)", {});
            for (const std::string& sql : schema_statements(found)) run(sql, {});
            run("DELETE FROM vq_schema", {});
            run("INSERT INTO vq_schema (version) VALUES (?)", {std::to_string(kSchemaVersion)});
        });
    }

    std::string uri_;
    SQLHENV env_ = SQL_NULL_HENV;
    SQLHDBC dbc_ = SQL_NULL_HDBC;
    bool connected_ = false;
};

}  // namespace

std::unique_ptr<RecordStore> open_server_store(const std::string& uri) { return std::make_unique<OdbcStore>(uri); }

}  // namespace vq::records
