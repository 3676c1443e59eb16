#pragma once
// Where the serial devices present now come from: the system, or a list of
// devices named in VELLQUIN_PORTS or in the file VELLQUIN_PORTS_FILE names.

#include <map>
#include <memory>
#include <string>

#include "link/port_book.h"

namespace vq {

// The system's serial devices, without opening any: on Linux the ttys udev
// knows with a device behind them (a serial port whose type is unknown has
// no UART, and is left out).
// Each is known by its USB serial number, else its /dev/serial/by-path
// socket, else its name; elsewhere than on Windows they come in the order
// of order_port_names.
class SystemPortSource final : public PortSource {
public:
    std::vector<PortInfo> present() override;
};

// The devices of a list such as VELLQUIN_PORTS holds; each is known by its
// name. Given a file, the list is read from it anew at every look, so that
// devices can be named (plugged in) while a window is open.
class ListPortSource final : public PortSource {
public:
    static std::unique_ptr<ListPortSource> of_text(std::string list);
    static std::unique_ptr<ListPortSource> of_file(std::string path);
    std::vector<PortInfo> present() override;

private:
    std::string list_;
    std::string file_;
};

// The links in `folder` (/dev/serial/by-id, /dev/serial/by-path), each by
// the device it leads to.
std::map<std::string, std::string> serial_links(const std::string& folder);

// What the probe at start-up learns by opening, told without opening: a
// device this user may not read and write is not listed. Windows tells
// only by opening.
bool permitted(const std::string& device);

// Whether `device` is there to be opened: its node (or the link to it) on
// Unix, its DOS device name (COM3, \\.\COM12) on Windows.
bool device_present(const std::string& device);

// What each number of `book` stands for, for opening. On Windows, with the
// system's ports, COM1 to COM9 stand for themselves whether the system lists
// them or not.
PortMap openable_ports(const PortBook& book, const PortSource& source);

// VELLQUIN_PORTS_FILE when it is set, else VELLQUIN_PORTS when it names any
// device, else the system.
std::unique_ptr<PortSource> port_source_from_environment();

}  // namespace vq
