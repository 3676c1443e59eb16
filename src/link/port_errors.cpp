#include "link/port_errors.h"

#ifndef _WIN32
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <vector>

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

int win32_error_number(unsigned long code, Win32Call call) {
    // winerror.h, by number, so that this is checked on every system.
    constexpr unsigned long kAccessDenied = 5, kSharingViolation = 32;
    constexpr unsigned long kGone[] = {
        2,     // ERROR_FILE_NOT_FOUND
        6,     // ERROR_INVALID_HANDLE
        21,    // ERROR_NOT_READY
        22,    // ERROR_BAD_COMMAND: what usbser.sys and most adapters' drivers answer once unplugged
        31,    // ERROR_GEN_FAILURE
        109,   // ERROR_BROKEN_PIPE: a serial port has no pipe; its other end is gone (Wine, its pty closed)
        433,   // ERROR_NO_SUCH_DEVICE
        995,   // ERROR_OPERATION_ABORTED: the driver gave up the pending request
        1167,  // ERROR_DEVICE_NOT_CONNECTED
        1617,  // ERROR_DEVICE_REMOVED
    };
    if (call == Win32Call::Open)
        return code == kAccessDenied || code == kSharingViolation ? err::PortAlreadyOpen : err::PortInvalid;
    for (unsigned long gone : kGone)
        if (code == gone) return err::PortGone;
    switch (call) {
    case Win32Call::Settings: return err::SetCommStateFailed;
    case Win32Call::Read: return err::ReadFailed;
    default: return err::WriteFailed;
    }
}

std::string permission_problem(const std::string& shown, const std::optional<DeviceOwnership>& o) {
    std::string text = shown + " exists but you may not open it";
    if (!o) return text;
    if ((o->mode & 060) == 060 && !o->in_group) {
        if (o->listed_in_group) return text + ": you were added to the " + o->group + " group since you logged in: log in again";
        return text + ": add yourself to the " + o->group + " group (sudo usermod -aG " + o->group +
               " $USER) and log in again";
    }
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", o->mode & 07777);
    return text + ": it belongs to " + o->owner + " (group " + o->group + ", mode " + mode + ")";
}

std::optional<DeviceOwnership> ownership_of(const std::string& device) {
#ifdef _WIN32
    (void)device;
    return std::nullopt;
#else
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0) return std::nullopt;
    DeviceOwnership o;
    o.mode = st.st_mode & 07777;
    const passwd* owner = ::getpwuid(st.st_uid);
    o.owner = owner ? owner->pw_name : std::to_string(st.st_uid);
    const group* g = ::getgrgid(st.st_gid);
    o.group = g ? g->gr_name : std::to_string(st.st_gid);
    std::vector<gid_t> now(static_cast<std::size_t>(std::max(0, ::getgroups(0, nullptr))));
    now.resize(static_cast<std::size_t>(std::max(0, ::getgroups(static_cast<int>(now.size()), now.data()))));
    o.in_group = ::getegid() == st.st_gid || std::find(now.begin(), now.end(), st.st_gid) != now.end();
    if (const passwd* me = ::getpwuid(::geteuid()); me && g)
        for (char** member = g->gr_mem; *member; ++member) o.listed_in_group |= std::string(*member) == me->pw_name;
    return o;
#endif
}

}  // namespace vq
