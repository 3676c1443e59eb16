#pragma once
// The serial link over the Unix terminal interface (termios).
//
// Opening takes the port for this program in the three ways the programs
// beside it look for, and refuses a port another program holds in any of
// them: flock(2) on the device, TIOCEXCL, and a UUCP lock file (LCK..ttyUSB0
// in /run/lock). The line is raw, with CLOCAL and CREAD and no flow control;
// for an upload a USB adapter (ttyUSB*, ttyACM*) is asked for low latency,
// goes on unchanged when it refuses, and is given back as it was found when
// the port closes. Output writes every byte and waits until they have left,
// 2 s at most for both;
// InBufferCount asks FIONREAD. A device that vanished fails with
// err::PortGone, which closes the port at once; every later operation fails
// with that error until the port is opened again.

#include <functional>
#include <optional>
#include <string>

#include "link/system_link_base.h"

namespace vq {

// The kernel's serial flags of an open port (TIOCGSERIAL, TIOCSSERIAL),
// where the low-latency flag lives. `read` gives nullopt for a port that is
// no USB adapter or does not know the request; `write` says whether the
// port took the flags.
struct SerialFlags {
    std::function<std::optional<int>(int fd, const std::string& tty)> read;
    std::function<bool(int fd, int flags)> write;
    static SerialFlags of_the_system();
};

class PosixSerialLink final : public SystemLinkBase {
public:
    // `lock_folder`: where UUCP lock files live; empty for none.
    explicit PosixSerialLink(PortMap ports = {}, std::string lock_folder = uucp_lock_folder(),
                             SerialFlags serial_flags = SerialFlags::of_the_system());
    ~PosixSerialLink() override;
    PosixSerialLink(const PosixSerialLink&) = delete;
    PosixSerialLink& operator=(const PosixSerialLink&) = delete;

    // The open port's file descriptor, for waiting on it; -1 when closed.
    int handle() const { return fd_; }

    bool PortOpen() const override { return fd_ >= 0; }
    void setInBufferCount(std::int16_t count) override;
    int InBufferCount() override;
    void Output(std::span<const std::uint8_t> bytes) override;
    std::vector<std::uint8_t> Input() override;

    // /run/lock, else /var/lock, else none.
    static std::string uucp_lock_folder();

private:
    void open_port(const std::string& device) override;
    void close_port() override;
    void apply(const LineSettings& settings) override;
    void tune_for_transfer() override;
    bool device_went_away() const override;
    [[noreturn]] void fail(int number, const std::string& what);

    std::string lock_folder_;
    SerialFlags serial_flags_;
    int fd_ = -1;
    std::string tty_;        // what the open port's device leads to
    std::string lock_file_;  // ours, removed on closing
    std::optional<int> found_serial_flags_;  // set when we changed them
};

// The UUCP lock file of `tty` (a /dev path) in `folder`: /dev/ttyUSB0 has
// LCK..ttyUSB0, /dev/pts/3 has LCK..pts_3.
std::string uucp_lock_path(const std::string& folder, const std::string& tty);

// The process a lock file's text names ("  4711\n", or Qt's "4711\nname\n"),
// when it is alive; 0 when it names none that is.
long live_lock_owner(const std::string& text);

}  // namespace vq
