#pragma once
// The latency timer of an FTDI USB adapter: how long it holds received
// bytes before passing them on (16 ms by default). Every answer paced by
// replies waits for it.

#include <filesystem>
#include <optional>
#include <string>

namespace vq {

// The latency timer of `tty` ("ttyUSB0") in milliseconds, read from the
// sysfs tree at `sys_class_tty` (/sys/class/tty): the file of its port
// device, else of the device above it. nullopt for a port that has none.
std::optional<int> latency_timer_ms(const std::filesystem::path& sys_class_tty, const std::string& tty);

}  // namespace vq
