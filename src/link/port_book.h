#pragma once
// Numbers for the serial devices that come and go while a window is open.
//
// A device keeps the number it was given for as long as the book lives,
// also while it is unplugged and after it comes back under another name:
// it is known by its identity (its USB serial number and interface, else the
// USB socket it is plugged into, else its device name). Devices that share
// an identity (clone adapters with one serial number) are told apart by
// their sockets, else by their names: two present devices never share a
// number. A device whose identity is its own keeps its number in another
// socket too. A new device takes the lowest number that no device known to
// the book holds; only 1 to 9 can be chosen in the window, so once they are
// all held a new device takes the number of the device gone longest (never
// a present one, never the chosen one), and says so. On Windows COMn is
// port n at every look, whatever else is plugged in.

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "link/port_errors.h"
#include "link/port_map.h"

namespace vq {

struct PortInfo {
    std::string device;       // what gets opened: /dev/ttyUSB0, COM3
    std::string description;  // what the system says about it, may be empty
    std::string identity;     // what stays the same when it is plugged in again
    // Whether this user may open it for reading and writing, as far as the
    // system says without opening it.
    bool permitted = true;
    std::string location{};   // the USB socket it is plugged into, where known
    // Named (in VELLQUIN_PORTS) but not there now: it keeps its number and
    // is marked gone.
    bool missing = false;
    // From a list such as VELLQUIN_PORTS: numbered by its place in the list
    // on every system, never by the digits of a COM name.
    bool named = false;
};

// The identity of a device from what the system tells of it: the USB
// vendor, product, serial number and interface, else the socket (a
// /dev/serial/by-path name), else the device name.
std::string port_identity(const std::string& usb_serial, const std::string& socket, const std::string& device);

// The serial devices present now.
class PortSource {
public:
    virtual ~PortSource() = default;
    // Without opening any of them. New devices are numbered in this order.
    virtual std::vector<PortInfo> present() = 0;
};

class PortBook {
public:
    explicit PortBook(Platform platform = kThisPlatform) : platform_(platform) {}

    struct Entry {
        int number = 0;
        PortInfo port;
        bool present = true;
        bool is_new = false;  // appeared after the first look
        std::time_t gone_at = 0;  // when a look first missed it, while it is gone
        // The device gone longest whose number this new one was given, when
        // 1 to 9 were all held; empty otherwise.
        std::string given_again_from{};
    };

    // Takes the devices present now. Known devices keep their numbers (and
    // take their new device name), new ones are numbered, and those not
    // present any more are marked gone. Returns whether anything changed.
    // `now` is the time of that look; `chosen`, the number chosen in the
    // window, is never given to another device.
    bool update(const std::vector<PortInfo>& present, std::time_t now = std::time(nullptr), int chosen = 0);

    // The entry numbered `number`; nullptr when none has it.
    const Entry* at(int number) const;
    // Every entry, present or gone, by number.
    const std::vector<Entry>& entries() const { return entries_; }
    // What each number stands for, for opening: a device that is gone keeps
    // its last name.
    PortMap map() const;

private:
    // The number for a new device; an entry it takes the number of is
    // named in `from` and removed.
    int number_for(const PortInfo& port, int chosen, std::string& from);
    // Whether `known` is `port` without doubt: the same name on Windows;
    // elsewhere the same identity in the same socket (or, with no socket
    // known, under the same name).
    bool same_place(const PortInfo& known, const PortInfo& port) const;

    Platform platform_;
    std::vector<Entry> entries_;  // ordered by number
    bool looked_ = false;
};

}  // namespace vq
