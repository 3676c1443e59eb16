#pragma once
// Runtime failures of the tool carry an error number, so that one handler per
// procedure can decide what the user is told. The numbers follow the classic
// runtime numbering the device tooling grew up with: the file access error is
// 75, a port held by another program is 8005.

#include <stdexcept>
#include <string>

namespace vq {

namespace err {
inline constexpr int Overflow = 6;              // a counter or offset left its range
inline constexpr int OutOfMemory = 7;
inline constexpr int SubscriptOutOfRange = 9;   // an index outside an array
inline constexpr int DeviceIo = 57;             // an open file could not be read
inline constexpr int InputPastEnd = 62;         // an open file ended before its length
inline constexpr int BadFileName = 52;          // a file name the protocol cannot carry
inline constexpr int Unsupported = 73;          // the other end asked for what is not sent (YMODEM-g)
inline constexpr int PermissionDenied = 70;     // the user may not open the port
inline constexpr int PathFileAccess = 75;       // no file that can be opened behind a name
inline constexpr int InvalidPropertyValue = 380;
inline constexpr int PortOperationWhileOpen = 8000;
inline constexpr int PortInvalid = 8002;        // no device behind this port number
inline constexpr int PortAlreadyOpen = 8005;    // another program holds the port
inline constexpr int SetCommStateFailed = 8015; // the line settings were refused
inline constexpr int PortNotOpen = 8018;
inline constexpr int ReadFailed = 8020;         // the port failed while receiving
inline constexpr int WriteFailed = 8021;        // the port failed while sending
inline constexpr int PortGone = 8022;           // the device went away: unplugged, or its pseudo-terminal closed
}  // namespace err

class Failure : public std::runtime_error {
public:
    Failure(int number, const std::string& description)
        : std::runtime_error(description), number_(number) {}
    int number() const noexcept { return number_; }

private:
    int number_;
};

}  // namespace vq
