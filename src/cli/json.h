#pragma once
// One JSON object on one line, for JSON Lines output.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vq::cli {

class JsonLine {
public:
    JsonLine& add(const std::string& key, const std::string& value);
    JsonLine& add(const std::string& key, const char* value) { return add(key, std::string(value)); }
    JsonLine& add(const std::string& key, std::int64_t value);
    JsonLine& add(const std::string& key, int value) { return add(key, static_cast<std::int64_t>(value)); }
    JsonLine& add(const std::string& key, double value);
    JsonLine& add(const std::string& key, bool value);
    JsonLine& add(const std::string& key, const std::vector<std::string>& values);
    JsonLine& add_null(const std::string& key);
    // "{...}" without a line end.
    std::string text() const { return "{" + body_ + "}"; }

private:
    JsonLine& raw(const std::string& key, const std::string& json);
    std::string body_;
};

// A JSON string literal, quotes included; any UTF-8 passes through.
std::string json_string(const std::string& text);

}  // namespace vq::cli
