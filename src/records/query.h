#pragma once
// The SQL both stores share: the table, its indexes, and the queries.

#include <optional>
#include <string>
#include <vector>

#include "records/store.h"

namespace vq::records {

// The uploads table and its indexes, each statement on its own.
std::vector<std::string> schema_statements();

// "INSERT INTO uploads (id, ...) VALUES (?, ...)".
std::string insert_sql();

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
