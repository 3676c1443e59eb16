#pragma once
// This system's serial link.

#ifdef _WIN32
#include "link/win32_serial_link.h"
namespace vq {
using SystemSerialLink = Win32SerialLink;
}
#else
#include "link/posix_serial_link.h"
namespace vq {
using SystemSerialLink = PosixSerialLink;
}
#endif
