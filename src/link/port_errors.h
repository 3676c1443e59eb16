#pragma once
// What a failed opening of a port means, told apart from what the serial
// library reported: its kind of failure and its text. Plain functions of
// plain values, so that every platform's texts can be checked anywhere.

#include <string>
#include <string_view>

namespace vq {

enum class Platform { Linux, Windows, OtherUnix };

inline constexpr Platform kThisPlatform =
#if defined(_WIN32)
    Platform::Windows;
#elif defined(__linux__)
    Platform::Linux;
#else
    Platform::OtherUnix;
#endif

// The kinds of opening failure the serial library tells apart.
enum class OpenFault {
    NotFound,     // no device by that name
    Permission,   // refused: by the system's permissions, or because another program holds it
    AlreadyOpen,  // this process has it open already
    Other,
};

// The error number of a failed opening: err::PortAlreadyOpen when another
// program holds the port, err::PermissionDenied when the user may not open
// it, err::PortInvalid otherwise.
//
// Windows opens a serial port for one program at a time and answers a
// second opening with "Access is denied", so there a refusal always means
// the port is held. Unix systems refuse a held port with EBUSY, or the
// library finds its lock file taken; `local_busy_text` is this system's
// own (possibly translated) text for EBUSY.
int opening_error_number(OpenFault fault, std::string_view text, Platform platform,
                         std::string_view local_busy_text = {});

// The Win32 calls of the serial link, as far as their errors mean
// different things.
enum class Win32Call {
    Open,      // CreateFileW, and the GetCommState that tells a serial port from anything else
    Settings,  // SetCommState, SetCommTimeouts
    Read,      // ReadFile, ClearCommError, PurgeComm of input
    Write,     // WriteFile, FlushFileBuffers
};

// The error number of a failed Win32 call on a port, from GetLastError():
// on opening, ERROR_ACCESS_DENIED and ERROR_SHARING_VIOLATION mean another
// program holds the port (err::PortAlreadyOpen) and everything else that
// there is no such port (err::PortInvalid); after opening, the errors of
// a device that went away (an unplugged USB adapter) are err::PortGone and
// the rest the call's own failure.
int win32_error_number(unsigned long code, Win32Call call);

// What to tell a user who may not open `device`, with the fix where the
// platform has a usual one: "/dev/ttyUSB0 exists but you may not open it:
// add yourself to the dialout group (...) and log in again".
std::string permission_problem(const std::string& device, Platform platform = kThisPlatform);

}  // namespace vq
