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

std::string insert_sql(std::string (*placeholder)(std::size_t)) {
    std::string values;
    for (std::size_t i = 0; i < kColumns.size(); ++i) values += (i ? ", " : "") + placeholder(i);
    return "INSERT INTO uploads (" + column_list() + ") VALUES (" + values + ")";
}

SqlQuery list_sql(const RecordQuery& q, std::string (*placeholder)(std::size_t)) {
    SqlQuery out;
    std::vector<std::string> where;
    const auto param = [&](std::string value) {
        out.params.push_back(std::move(value));
        return placeholder(out.params.size() - 1);
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

}  // namespace vq::records
