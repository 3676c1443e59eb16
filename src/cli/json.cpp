#include "cli/json.h"

#include <cmath>
#include <cstdio>

namespace vq::cli {

std::string json_string(const std::string& text) {
    std::string out = "\"";
    for (const char ch : text) {
        switch (ch) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(ch) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", ch);
                out += escaped;
            } else {
                out += ch;
            }
        }
    }
    return out + "\"";
}

JsonLine& JsonLine::raw(const std::string& key, const std::string& json) {
    if (!body_.empty()) body_ += ",";
    body_ += json_string(key) + ":" + json;
    return *this;
}

JsonLine& JsonLine::add(const std::string& key, const std::string& value) { return raw(key, json_string(value)); }
JsonLine& JsonLine::add(const std::string& key, std::int64_t value) { return raw(key, std::to_string(value)); }
JsonLine& JsonLine::add(const std::string& key, bool value) { return raw(key, value ? "true" : "false"); }
JsonLine& JsonLine::add_null(const std::string& key) { return raw(key, "null"); }

JsonLine& JsonLine::add(const std::string& key, double value) {
    if (!std::isfinite(value)) return add_null(key);
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return raw(key, text);
}

JsonLine& JsonLine::add(const std::string& key, const std::vector<std::string>& values) {
    std::string list = "[";
    for (const std::string& v : values) list += (list.size() > 1 ? "," : "") + json_string(v);
    return raw(key, list + "]");
}

}  // namespace vq::cli
