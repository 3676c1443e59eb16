#include "link/port_errors.h"

#include "protocol/failure.h"

namespace vq {
namespace {

bool contains(std::string_view text, std::string_view part) {
    return !part.empty() && text.find(part) != std::string_view::npos;
}

}  // namespace

int opening_error_number(OpenFault fault, std::string_view text, Platform platform,
                         std::string_view local_busy_text) {
    switch (fault) {
    case OpenFault::AlreadyOpen:
        return err::PortAlreadyOpen;
    case OpenFault::Permission:
        if (platform == Platform::Windows) return err::PortAlreadyOpen;
        // The library's own text when another program holds the lock file,
        // then EBUSY as Linux, the BSDs and macOS word it.
        for (std::string_view busy : {std::string_view("while locking the device"),
                                      std::string_view("Device or resource busy"),
                                      std::string_view("Resource busy"), local_busy_text})
            if (contains(text, busy)) return err::PortAlreadyOpen;
        return err::PermissionDenied;
    case OpenFault::NotFound:
    case OpenFault::Other:
        break;
    }
    return err::PortInvalid;
}

std::string permission_problem(const std::string& device, Platform platform) {
    std::string text = device + " exists but you may not open it";
    if (platform == Platform::Linux)
        text += ": add yourself to the dialout group (sudo usermod -aG dialout $USER) and log in again";
    return text;
}

}  // namespace vq
