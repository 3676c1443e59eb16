#include "link/line_settings.h"

#include <cctype>
#include <string>
#include <vector>

namespace vq {

std::optional<LineSettings> parse_line_settings(std::string_view text) {
    std::vector<std::string> parts{""};
    for (char ch : text) {
        if (ch == ',') parts.emplace_back();
        else if (ch != ' ') parts.back() += ch;
    }
    if (parts.size() != 4) return std::nullopt;

    LineSettings s;
    try {
        std::size_t used = 0;
        const long baud = std::stol(parts[0], &used);
        if (used != parts[0].size() || baud <= 0 || baud > 4000000) return std::nullopt;
        s.baud = static_cast<int>(baud);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (parts[1].size() != 1 || std::string("NEOMS").find(static_cast<char>(std::toupper(parts[1][0]))) == std::string::npos)
        return std::nullopt;
    s.parity = static_cast<char>(std::toupper(parts[1][0]));
    if (parts[2].size() != 1 || parts[2][0] < '5' || parts[2][0] > '8') return std::nullopt;
    s.data_bits = parts[2][0] - '0';
    if (parts[3] == "1") s.stop_bits = LineSettings::StopBits::One;
    else if (parts[3] == "1.5") s.stop_bits = LineSettings::StopBits::OneAndHalf;
    else if (parts[3] == "2") s.stop_bits = LineSettings::StopBits::Two;
    else return std::nullopt;
    return s;
}

}  // namespace vq
