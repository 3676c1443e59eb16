#include "records/query.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>
#include <unordered_set>

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

std::vector<std::string> schema_statements(int from) {
    std::vector<std::string> out;
    if (from < 1) out = {"CREATE TABLE IF NOT EXISTS uploads ("
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
    // 2: a station's slot, the image as sent when a serial was stamped into
    // it, and the counters that hand out serials.
    if (from < 2)
        for (const char* sql : {"ALTER TABLE uploads ADD COLUMN slot TEXT NOT NULL DEFAULT ''",
                                "ALTER TABLE uploads ADD COLUMN sent_sha256 TEXT NOT NULL DEFAULT ''",
                                "CREATE TABLE IF NOT EXISTS vq_counters (name TEXT PRIMARY KEY, next BIGINT NOT NULL)"})
            out.push_back(sql);
    return out;
}

std::string insert_sql() {
    std::string values;
    for (std::size_t i = 0; i < kColumns.size(); ++i) values += i ? ", ?" : "?";
    return "INSERT INTO uploads (" + column_list() + ") VALUES (" + values + ")";
}

std::string put_sql() {
    std::string sql = insert_sql() + " ON CONFLICT (id) DO UPDATE SET ";
    for (std::size_t i = 1; i < kColumns.size(); ++i)
        sql += std::string(i > 1 ? ", " : "") + std::string(kColumns[i]) + " = excluded." + std::string(kColumns[i]);
    return sql + " WHERE uploads.outcome = '" + kOpeningOutcome + "'";
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

namespace {

std::optional<std::string> percent_decoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        unsigned value = 0;
        if (i + 2 >= text.size() || std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16).ptr !=
                                        text.data() + i + 3)
            return std::nullopt;
        out += static_cast<char>(value);
        i += 2;
    }
    return out;
}

// An ODBC value, in braces (a closing one doubled) where it holds what
// would end it; drivers take a plain value as it is.
std::string braced(const std::string& value) {
    if (value.find_first_of(";{}=") == std::string::npos && !value.starts_with(' ') && !value.ends_with(' '))
        return value;
    std::string out = "{";
    for (const char c : value) out += c == '}' ? std::string("}}") : std::string(1, c);
    return out + "}";
}

}  // namespace

std::optional<std::string> odbc_connection_string(const std::string& uri, const std::string& driver) {
    std::string_view rest = uri;
    for (const std::string_view scheme : {"postgresql://", "postgres://"})
        if (rest.starts_with(scheme)) rest.remove_prefix(scheme.size());
    if (rest.size() == uri.size()) return std::nullopt;
    std::map<std::string, std::string> parts;  // libpq's names
    const std::size_t query_at = rest.find('?');
    std::string_view query = query_at == std::string_view::npos ? std::string_view() : rest.substr(query_at + 1);
    rest = rest.substr(0, query_at);
    const std::size_t slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    if (slash != std::string_view::npos) parts["dbname"] = std::string(rest.substr(slash + 1));
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
        const std::string_view user = authority.substr(0, at);
        const std::size_t colon = user.find(':');
        parts["user"] = std::string(user.substr(0, colon));
        if (colon != std::string_view::npos) parts["password"] = std::string(user.substr(colon + 1));
        authority.remove_prefix(at + 1);
    }
    if (const std::size_t colon = authority.rfind(':'); colon != std::string_view::npos && authority.back() != ']') {
        parts["port"] = std::string(authority.substr(colon + 1));
        authority = authority.substr(0, colon);
    }
    if (!authority.empty()) parts["host"] = std::string(authority);
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        const std::size_t eq = pair.find('=');
        if (eq == std::string_view::npos) return std::nullopt;
        parts[std::string(pair.substr(0, eq))] = std::string(pair.substr(eq + 1));
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    }
    static const std::pair<const char*, const char*> odbc_names[] = {
        {"host", "Server"}, {"port", "Port"}, {"dbname", "Database"}, {"user", "Uid"}, {"password", "Pwd"}};
    std::string out = "Driver={" + driver + "};";
    for (const auto& [libpq, odbc] : odbc_names) {
        const auto found = parts.find(libpq);
        if (found == parts.end()) continue;
        const auto value = percent_decoded(found->second);
        if (!value) return std::nullopt;
        out += std::string(odbc) + "=" + braced(*value) + ";";
    }
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
    // One pass in the order of the uploads (the time index): a unit's first
    // upload in a group is the first row of it there.
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
    };
    struct Group {
        YieldRow row;
        std::unordered_set<std::string, Hash, std::equal_to<>> units;
        std::vector<double> seconds;
    };
    std::map<std::string, Group, std::less<>> groups;
    const auto number = [](std::string_view text, auto value) {
        std::from_chars(text.data(), text.data() + text.size(), value);
        return value;
    };
    // Seconds as whole milliseconds: an integer is quicker to pass as text than a real.
    store.each_row({std::string("SELECT ") + key + ", unit, outcome, CAST(round(seconds * 1000) AS INTEGER), retries FROM uploads" +
                        (since.empty() ? "" : " WHERE started_at >= ?") + " ORDER BY started_at",
                    since.empty() ? std::vector<std::string>{} : std::vector{since}},
                   [&](const RecordStore::RowView& r) {
                       auto at = groups.find(r[0]);
                       if (at == groups.end()) at = groups.emplace(std::string(r[0]), Group{}).first;
                       Group& g = at->second;
                       ++g.row.uploads;
                       g.row.retries += number(r[4], 0LL);
                       g.seconds.push_back(static_cast<double>(number(r[3], 0LL)) / 1000);
                       if (!r[1].empty() && !g.units.contains(r[1])) {
                           g.units.emplace(r[1]);
                           if (r[2] == "finished") ++g.row.first_pass;
                       }
                   });
    std::vector<YieldRow> out;
    for (auto& [name, g] : groups) {
        g.row.group = name;
        g.row.units = static_cast<long long>(g.units.size());
        std::vector<double>& s = g.seconds;
        const auto middle = s.begin() + static_cast<std::ptrdiff_t>(s.size() / 2);
        std::nth_element(s.begin(), middle, s.end());
        g.row.median_seconds = *middle;
        if (s.size() % 2 == 0) g.row.median_seconds = (g.row.median_seconds + *std::max_element(s.begin(), middle)) / 2;
        out.push_back(g.row);
    }
    return out;
}

}  // namespace vq::records
