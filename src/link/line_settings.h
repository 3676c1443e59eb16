#pragma once
// The line settings text of a serial link, "baud,parity,data,stop" as in
// "115200,N,8,1", in plain values.

#include <optional>
#include <string_view>

namespace vq {

struct LineSettings {
    enum class StopBits { One, OneAndHalf, Two };
    int baud = 9600;
    char parity = 'N';  // N, E, O, M or S
    int data_bits = 8;  // 5 to 8
    StopBits stop_bits = StopBits::One;
};

// Parses "115200,N,8,1" (blanks ignored, parity in either case); nullopt
// when the text is malformed or the baud rate is outside 1 to 4000000.
std::optional<LineSettings> parse_line_settings(std::string_view text);

}  // namespace vq
