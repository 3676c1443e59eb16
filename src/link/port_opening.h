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

// The port number the last character of `choice` names: 1..9, or 0 when it
// names none (an empty text, a 0, anything but an ASCII digit).
int port_number_of(std::string_view choice);

// Opens the port named by the last character of `choice` (or reuses it when
// it is already open), then applies 115200 8N1, one byte per read, no
// receive notifications, binary input, and empties both buffers.
//
// An invalid choice shows "Invalid Serial Port" and touches no link
// operation. A failing link operation gives kPortFailed with no message; the
// steps before it took effect, and a port this call opened stays open.
// `cause`, when given, receives what failed.
std::int16_t init_serial_port(std::string_view choice, SerialLink& link, MessageBox& messages,
                              std::string* cause = nullptr);

}  // namespace vq
