#pragma once
// The SQL both stores share: the table, its indexes, and the queries.

#include <optional>
#include <string>
#include <vector>

#include "records/store.h"

namespace vq::records {

// What makes the schema current from version `from` (0: none), each
// statement on its own: the uploads table and its indexes, then each
// version's additions.
std::vector<std::string> schema_statements(int from);

// The counters of next_number, one SQL for both databases: the number
// handed out is the row's `next` before it was advanced.
inline constexpr const char* kNextNumberSql =
    "INSERT INTO vq_counters (name, next) VALUES (?, CAST(? AS BIGINT) + 1) "
    "ON CONFLICT (name) DO UPDATE SET next = vq_counters.next + 1 RETURNING next - 1";

// "INSERT INTO uploads (id, ...) VALUES (?, ...)".
std::string insert_sql();
// The same, for put_all: a record already there with its id is left as it
// is, unless it is an opening record.
std::string put_sql();

// SELECT of every column, newest first.
SqlQuery list_sql(const RecordQuery& query);

// A libpq connection URI as an ODBC connection string for `driver`
// (psqlODBC): postgresql://[user[:password]@][host][:port][/dbname][?key=value&...],
// percent-escapes decoded; host, port, dbname and user may come in the query
// too (host=/socket/folder). nullopt for a URI it cannot read.
std::optional<std::string> odbc_connection_string(const std::string& uri, const std::string& driver);

// `sql` with PostgreSQL's $1, $2, ... for its question marks.
std::string numbered_parameters(const std::string& sql);

}  // namespace vq::records
