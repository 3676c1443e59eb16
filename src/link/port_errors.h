#pragma once
// What a failed opening of a port means, told apart from what the serial
// library reported: its kind of failure and its text. Plain functions of
// plain values, so that every platform's texts can be checked anywhere.

#include <optional>
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

// Who a device belongs to, as far as it tells why a user may not open it.
struct DeviceOwnership {
    std::string owner, group;      // names (numbers where the system has none)
    unsigned mode = 0;             // the permission bits: 0660
    bool in_group = false;         // this program runs in the group
    bool listed_in_group = false;  // the group lists the user (who may not have logged in again since)
};

// What the system tells of `device` now; nothing on Windows.
std::optional<DeviceOwnership> ownership_of(const std::string& device);

// What to tell a user who may not open the device named `shown`: the group
// to join, when the device's group may read and write it ("/dev/ttyUSB0
// exists but you may not open it: add yourself to the dialout group (...)
// and log in again"), else who it belongs to. Without its ownership, only
// that it exists.
std::string permission_problem(const std::string& shown, const std::optional<DeviceOwnership>& ownership);

}  // namespace vq
