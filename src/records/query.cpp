#include "records/query.h"

#include <algorithm>
#include <cctype>

namespace vq::records {
namespace {

std::string column_list() {
    std::string list;
    for (const auto c : kColumns) list += (list.empty() ? "" : ", ") + std::string(c);
    return list;
}

bool is_sha_prefix(const std::string& text) {
    return text.size() >= 4 && text.size() <= 64 &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c); });
}

// `text` in a LIKE pattern with '!' as its escape.
std::string like_escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '!' || c == '%' || c == '_') out += '!';
        out += c;
    }
    return out;
}

}  // namespace

std::vector<std::string> schema_statements() {
    return {"CREATE TABLE IF NOT EXISTS uploads ("
            "id TEXT PRIMARY KEY, started_at TEXT NOT NULL, ended_at TEXT NOT NULL, station TEXT NOT NULL, "
            "operator TEXT NOT NULL, tool_version TEXT NOT NULL, port TEXT NOT NULL, tty TEXT NOT NULL, "
            "adapter TEXT NOT NULL, unit TEXT NOT NULL, protocol TEXT NOT NULL, pace TEXT NOT NULL, "
            "image_path TEXT NOT NULL, image_bytes BIGINT NOT NULL, image_sha256 TEXT NOT NULL, "
            "bytes_acknowledged BIGINT NOT NULL, outcome TEXT NOT NULL, exit_status INTEGER NOT NULL, "
            "seconds DOUBLE PRECISION NOT NULL, resends INTEGER NOT NULL, naks INTEGER NOT NULL, "
            "retries INTEGER NOT NULL, text TEXT NOT NULL, log_file TEXT NOT NULL)",
            "CREATE INDEX IF NOT EXISTS uploads_by_time ON uploads (started_at)",
            "CREATE INDEX IF NOT EXISTS uploads_by_unit ON uploads (unit, started_at)",
            "CREATE INDEX IF NOT EXISTS uploads_by_image ON uploads (image_sha256)"};
}

std::string insert_sql() {
    std::string values;
    for (std::size_t i = 0; i < kColumns.size(); ++i) values += i ? ", ?" : "?";
    return "INSERT INTO uploads (" + column_list() + ") VALUES (" + values + ")";
}

SqlQuery list_sql(const RecordQuery& q) {
    SqlQuery out;
    std::vector<std::string> where;
    const auto param = [&](std::string value) {
        out.params.push_back(std::move(value));
        return std::string("?");
    };
    if (!q.unit.empty()) where.push_back("unit = " + param(q.unit));
    if (!q.station.empty()) where.push_back("station = " + param(q.station));
    if (!q.outcome.empty()) where.push_back("outcome = " + param(q.outcome));
    if (!q.since.empty()) where.push_back("started_at >= " + param(q.since));
    // A day without a time is the whole of that day.
    if (!q.until.empty()) where.push_back("started_at <= " + param(q.until.size() == 10 ? q.until + "T23:59:59.999Z" : q.until));
    if (is_sha_prefix(q.image)) {
        std::string lower = q.image;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
        where.push_back("image_sha256 LIKE " + param(lower + "%"));
    } else if (!q.image.empty()) {
        const std::string name = like_escaped(q.image);
        where.push_back("(image_path = " + param(q.image) + " OR image_path LIKE " + param("%/" + name) +
                        " ESCAPE '!' OR image_path LIKE " + param("%\\" + name) + " ESCAPE '!')");
    }
    out.sql = "SELECT " + column_list() + " FROM uploads";
    for (std::size_t i = 0; i < where.size(); ++i) out.sql += (i ? " AND " : " WHERE ") + where[i];
    out.sql += " ORDER BY started_at DESC, id";
    if (q.limit > 0) out.sql += " LIMIT " + std::to_string(q.limit);
    return out;
}

std::string numbered_parameters(const std::string& sql) {
    std::string out;
    int n = 0;
    for (const char c : sql) out += c == '?' ? "$" + std::to_string(++n) : std::string(1, c);
    return out;
}

std::vector<UploadRecord> list(RecordStore& store, const RecordQuery& query) {
    std::vector<UploadRecord> out;
    for (const auto& row : store.select(list_sql(query))) {
        UploadRecord r;
        for (std::size_t i = 0; i < kColumns.size() && i < row.size(); ++i) set_field(r, i, row[i]);
        out.push_back(std::move(r));
    }
    return out;
}

std::vector<YieldRow> yield(RecordStore& store, YieldBy by, const std::string& since) {
    const char* key = by == YieldBy::Image     ? "image_sha256"
                      : by == YieldBy::Station ? "station"
                      : by == YieldBy::Port    ? "port"
                                               : "substr(started_at, 1, 10)";
    const std::string where = since.empty() ? std::string() : " WHERE started_at >= ?";
    const std::vector<std::string> params = since.empty() ? std::vector<std::string>{} : std::vector{since};
    // Each unit's uploads in a group numbered from its first.
    const std::string numbered = std::string("SELECT ") + key +
                                 " AS g, unit, outcome, retries, ROW_NUMBER() OVER (PARTITION BY " + key +
                                 ", unit ORDER BY started_at, id) AS n FROM uploads" + where;
    const Rows totals = store.select(
        {"SELECT g, count(*), count(DISTINCT CASE WHEN unit <> '' THEN unit END), "
         "sum(CASE WHEN n = 1 AND unit <> '' AND outcome = 'finished' THEN 1 ELSE 0 END), sum(retries) FROM (" +
             numbered + ") AS u GROUP BY g ORDER BY g",
         params});
    std::vector<YieldRow> out;
    for (const auto& row : totals)
        out.push_back({row[0], std::stoll(row[1]), std::stoll(row[2]), std::stoll(row[3]), std::stoll(row[4]), 0});
    // The median of each group: the middle upload by seconds, or the mean of the middle two.
    const Rows medians = store.select(
        {std::string("SELECT g, avg(seconds) FROM (SELECT ") + key + " AS g, seconds, ROW_NUMBER() OVER (PARTITION BY " +
             key + " ORDER BY seconds) AS r, count(*) OVER (PARTITION BY " + key + ") AS c FROM uploads" + where +
             ") AS m WHERE r IN ((c + 1) / 2, (c + 2) / 2) GROUP BY g ORDER BY g",
         params});
    for (std::size_t i = 0; i < out.size() && i < medians.size(); ++i)
        if (medians[i][0] == out[i].group) out[i].median_seconds = std::stod(medians[i][1]);
    return out;
}

}  // namespace vq::records
