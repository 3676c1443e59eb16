#pragma once
// The SQL both stores share: the table, its indexes, and a list's query.

#include <string>
#include <vector>

#include "records/store.h"

namespace vq::records {

// The uploads table and its indexes, each statement on its own.
std::vector<std::string> schema_statements();

// "INSERT INTO uploads (id, ...) VALUES (p1, ...)" where `placeholder(i)`
// writes the i-th (0-based) parameter: "?" for SQLite, "$1" for PostgreSQL.
std::string insert_sql(std::string (*placeholder)(std::size_t));

struct SqlQuery {
    std::string sql;
    std::vector<std::string> params;
};
// SELECT of every column, newest first.
SqlQuery list_sql(const RecordQuery& query, std::string (*placeholder)(std::size_t));

}  // namespace vq::records
