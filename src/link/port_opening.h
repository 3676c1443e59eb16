#pragma once
// Opening the chosen port with the fixed line settings of the upload.

#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/serial_link.h"

namespace vq {

class MessageBox;

inline constexpr const char* kLineSettings = "115200,N,8,1";
inline constexpr const char* kInvalidSerialPort = "Invalid Serial Port";

enum PortOpening : std::int16_t {
    kPortReady = 0,        // open, configured, both buffers empty
    kPortChoiceInvalid = 1,
    kPortFailed = 2,       // a link operation failed
};

// The number the ASCII digits at the end of `choice` form: "COM3" and
// "xyz3" give 3, "COM11" gives 11 (not 1: that would be another device).
// 0 when it ends in no digit; kNoPortNumber for more than four digits.
inline constexpr int kNoPortNumber = -1;
int port_number_of(std::string_view choice);
// Whether that number names one of the ports 1 to 9.
inline bool names_a_port(int number) { return number >= 1 && number <= 9; }

// Opens the port named by the digits at the end of `choice` (or reuses it
// when it is already open), then applies 115200 8N1, one byte per read, no
// receive notifications, binary input, and empties both buffers. A port
// this link holds open on another number is closed first.
//
// A choice that names no port 1 to 9 shows "Invalid Serial Port" and
// touches no link operation. A failing link operation gives kPortFailed
// with no message; the steps before it took effect, and a port this call
// opened stays open.
// `cause`, when given, receives what failed.
//
// With `waiting` Keep, bytes received before the call are kept for the
// upload: a receiver's request sent before the port was opened.
enum class Waiting { Discard, Keep };
std::int16_t init_serial_port(std::string_view choice, SerialLink& link, MessageBox& messages,
                              std::string* cause = nullptr, Waiting waiting = Waiting::Discard);

}  // namespace vq
