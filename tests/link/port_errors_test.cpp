#include "link/port_errors.h"

#include <gtest/gtest.h>

#include "protocol/failure.h"

namespace vq {
namespace {

TEST(OpeningErrorNumber, TellsAHeldPortFromAForbiddenOneWithEachPlatformsTexts) {
    const struct {
        Platform platform;
        OpenFault fault;
        const char* text;
        int number;
    } rows[] = {
        {Platform::Windows, OpenFault::Permission, "Access is denied.", err::PortAlreadyOpen},
        {Platform::Windows, OpenFault::NotFound, "The system cannot find the file specified.", err::PortInvalid},
        {Platform::Linux, OpenFault::Permission, "Permission denied", err::PermissionDenied},
        {Platform::Linux, OpenFault::Permission, "Device or resource busy", err::PortAlreadyOpen},
        {Platform::Linux, OpenFault::Permission, "Permission error while locking the device", err::PortAlreadyOpen},
        {Platform::Linux, OpenFault::Permission, "Permission error while creating lock file", err::PermissionDenied},
        {Platform::Linux, OpenFault::Permission, "Gerät oder Ressource belegt", err::PortAlreadyOpen},  // local text
        {Platform::Linux, OpenFault::NotFound, "No such file or directory", err::PortInvalid},
        {Platform::Linux, OpenFault::AlreadyOpen, "", err::PortAlreadyOpen},
        {Platform::Linux, OpenFault::Other, "Input/output error", err::PortInvalid},
        {Platform::OtherUnix, OpenFault::Permission, "Resource busy", err::PortAlreadyOpen},
        {Platform::OtherUnix, OpenFault::Permission, "Permission denied", err::PermissionDenied},
    };
    for (const auto& r : rows)
        EXPECT_EQ(opening_error_number(r.fault, r.text, r.platform, "Gerät oder Ressource belegt"), r.number)
            << r.text;
}

TEST(Win32ErrorNumber, AHeldPortIsRefusedAccessAndAnUnpluggedOneFailsAsGoneAtAnyCall) {
    const struct {
        unsigned long code;
        Win32Call call;
        int number;
    } rows[] = {
        {5, Win32Call::Open, err::PortAlreadyOpen},        // ERROR_ACCESS_DENIED
        {32, Win32Call::Open, err::PortAlreadyOpen},       // ERROR_SHARING_VIOLATION
        {2, Win32Call::Open, err::PortInvalid},            // ERROR_FILE_NOT_FOUND
        {1, Win32Call::Open, err::PortInvalid},            // ERROR_INVALID_FUNCTION: not a serial port
        {22, Win32Call::Write, err::PortGone},             // ERROR_BAD_COMMAND
        {1167, Win32Call::Read, err::PortGone},            // ERROR_DEVICE_NOT_CONNECTED
        {995, Win32Call::Read, err::PortGone},             // ERROR_OPERATION_ABORTED
        {31, Win32Call::Settings, err::PortGone},          // ERROR_GEN_FAILURE
        {109, Win32Call::Read, err::PortGone},             // ERROR_BROKEN_PIPE
        {87, Win32Call::Settings, err::SetCommStateFailed},  // ERROR_INVALID_PARAMETER
        {258, Win32Call::Write, err::WriteFailed},         // WAIT_TIMEOUT
        {258, Win32Call::Read, err::ReadFailed},
    };
    for (const auto& r : rows) EXPECT_EQ(win32_error_number(r.code, r.call), r.number) << r.code;
}

TEST(PermissionProblem, GivesTheGroupToJoinOnlyWhenJoiningItWouldHelpElseTheOwner) {
    const std::string denied = "/dev/ttyUSB0 exists but you may not open it";
    const struct {
        std::optional<DeviceOwnership> ownership;
        std::string said;
    } rows[] = {
        {DeviceOwnership{"root", "dialout", 0660}, ": add yourself to the dialout group (sudo usermod -aG dialout $USER) and log in again"},
        {DeviceOwnership{"root", "uucp", 0660, false, true}, ": you were added to the uucp group since you logged in: log in again"},
        {DeviceOwnership{"root", "dialout", 0600, true}, ": it belongs to root (group dialout, mode 0600)"},
        {DeviceOwnership{"alice", "tty", 0620}, ": it belongs to alice (group tty, mode 0620)"},
        {DeviceOwnership{"root", "dialout", 0660, true}, ": it belongs to root (group dialout, mode 0660)"},
        {std::nullopt, ""},  // Windows tells nothing more
    };
    for (const auto& r : rows) EXPECT_EQ(permission_problem("/dev/ttyUSB0", r.ownership), denied + r.said);
}

}  // namespace
}  // namespace vq
