#include "link/posix_serial_link.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>

#include "link/drain.h"
#include "link/port_errors.h"
#include "protocol/image_file.h"

namespace vq {
namespace {

// Enough for the slowest line we support to take a whole frame, with margin
// for a USB adapter that is slow to start.
constexpr int kWriteBudgetMs = 2000;

std::string system_words(int error) { return std::strerror(error); }

// Whether the device behind an open port went away: its node (and any link
// to it) vanishes with an unplug, and a pseudo-terminal's with its master.
bool device_gone(const std::string& device) {
    std::error_code ec;
    return !std::filesystem::exists(path_from_utf8(device), ec) && !ec;
}

speed_t speed_of(int baud) {
    static const struct { int baud; speed_t speed; } speeds[] = {
        {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
        {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
        {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
        {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
        {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
        {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
    };
    for (const auto& s : speeds)
        if (s.baud == baud) return s.speed;
    return B0;
}

}  // namespace

std::string uucp_lock_path(const std::string& folder, const std::string& tty) {
    std::string name = tty.rfind("/dev/", 0) == 0 ? tty.substr(5) : std::filesystem::path(tty).filename().string();
    for (char& ch : name)
        if (ch == '/') ch = '_';
    return folder + "/LCK.." + name;
}

long live_lock_owner(const std::string& text) {
    char* end = nullptr;
    const long pid = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || pid <= 0) return 0;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM ? pid : 0;
}

namespace {

// "minicom, pid 1234" for a program that has `tty` open, as far as this
// user may look into other programs (the one named by `pid` first, a lock
// file's owner); empty when none is seen.
std::string holder_of(const std::string& tty, long pid) {
    const auto name_of = [](const std::string& process) {
        std::string comm;
        std::getline(std::ifstream("/proc/" + process + "/comm"), comm);
        return comm.empty() ? std::string() : comm + ", pid " + process;
    };
    if (pid > 0) return name_of(std::to_string(pid));
    namespace fs = std::filesystem;
    std::error_code ec;
    // Programs come and go while they are looked through.
    for (fs::directory_iterator process("/proc", ec), end; !ec && process != end; process.increment(ec)) {
        const std::string id = process->path().filename().string();
        if (id.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code fd_ec;
        for (fs::directory_iterator fd(process->path() / "fd", fd_ec); !fd_ec && fd != end; fd.increment(fd_ec)) {
            std::error_code link_ec;
            if (fs::read_symlink(fd->path(), link_ec).string() == tty) return name_of(id);
        }
    }
    return {};
}

}  // namespace

std::string PosixSerialLink::uucp_lock_folder() {
    for (const char* folder : {"/run/lock", "/var/lock"})
        if (::access(folder, F_OK) == 0) return folder;
    return {};
}

SerialFlags SerialFlags::of_the_system() {
    return {[](int fd, const std::string& tty) -> std::optional<int> {
                const std::string name = std::filesystem::path(tty).filename().string();
                if (name.rfind("ttyUSB", 0) != 0 && name.rfind("ttyACM", 0) != 0) return std::nullopt;
                serial_struct serial{};
                if (::ioctl(fd, TIOCGSERIAL, &serial) != 0) return std::nullopt;
                return serial.flags;
            },
            [](int fd, int flags) {
                serial_struct serial{};
                if (::ioctl(fd, TIOCGSERIAL, &serial) != 0) return false;
                serial.flags = flags;
                return ::ioctl(fd, TIOCSSERIAL, &serial) == 0;
            }};
}

PosixSerialLink::PosixSerialLink(PortMap ports, std::string lock_folder, SerialFlags serial_flags)
    : SystemLinkBase(std::move(ports)), lock_folder_(std::move(lock_folder)), serial_flags_(std::move(serial_flags)) {}

PosixSerialLink::~PosixSerialLink() { close_port(); }

void PosixSerialLink::open_port(const std::string& device) {
    // A link (/dev/serial/by-id/...) is opened as the device it leads to, so
    // that its lock file is the one every other program takes for it.
    std::error_code ec;
    const auto real = std::filesystem::canonical(path_from_utf8(device), ec);
    const std::string tty = ec ? device : utf8_from_path(real);
    // Named once the refused descriptor is closed, so that it is not ours.
    const auto held = [&](long pid = 0) {
        const std::string holder = holder_of(tty, pid);
        return Failure(err::PortAlreadyOpen, device + ": held by another program" + (holder.empty() ? "" : " (" + holder + ")"));
    };

    const int fd = ::open(tty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == EBUSY) throw held();  // TIOCEXCL
        if (error == EACCES || error == EPERM || error == EROFS)
            throw Failure(err::PermissionDenied, permission_problem(device, ownership_of(device)));
        throw Failure(err::PortInvalid, device + ": " + system_words(error));
    }
    termios probe{};
    if (::tcgetattr(fd, &probe) != 0) {
        ::close(fd);
        throw Failure(err::PortInvalid, device + ": not a serial device");
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        throw held();
    }
    if (!lock_folder_.empty()) {
        const std::string lock = uucp_lock_path(lock_folder_, tty);
        for (int attempt = 0; attempt < 2; ++attempt) {
            const int lock_fd = ::open(lock.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (lock_fd >= 0) {
                char text[16];
                const int n = std::snprintf(text, sizeof text, "%10ld\n", static_cast<long>(::getpid()));
                const bool written = ::write(lock_fd, text, static_cast<std::size_t>(n)) == n;
                ::close(lock_fd);
                if (written) lock_file_ = lock;
                else ::unlink(lock.c_str());
                break;
            }
            if (errno != EEXIST) break;  // a lock folder this user may not write in: flock and TIOCEXCL hold it
            std::ifstream in(lock);
            const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (const long owner = live_lock_owner(text); owner != 0) {
                ::close(fd);
                throw held(owner);
            }
            ::unlink(lock.c_str());  // stale: its program is gone
        }
    }
    (void)::ioctl(fd, TIOCEXCL);
    fd_ = fd;
    tty_ = tty;
}

// Asks a USB adapter to pass each received byte on at once instead of
// collecting them for a while (an FTDI adapter's latency timer goes to 1 ms).
// The flags found are kept to give back, when they were changed; a port
// that does not know the request goes on as it is.
void PosixSerialLink::tune_for_transfer() {
    if (found_serial_flags_) return;
    const std::optional<int> found = serial_flags_.read(fd_, tty_);
    if (found && !(*found & ASYNC_LOW_LATENCY) && serial_flags_.write(fd_, *found | ASYNC_LOW_LATENCY))
        found_serial_flags_ = found;
}

void PosixSerialLink::close_port() {
    if (fd_ < 0) return;
    if (found_serial_flags_) (void)serial_flags_.write(fd_, *found_serial_flags_);
    found_serial_flags_.reset();
    (void)::ioctl(fd_, TIOCNXCL);  // the flag outlives the descriptor while a pty's master is open
    ::close(fd_);
    fd_ = -1;
    if (!lock_file_.empty()) ::unlink(lock_file_.c_str());
    lock_file_.clear();
}

void PosixSerialLink::apply(const LineSettings& s) {
    const auto refused = [&](const std::string& why) {
        return Failure(err::SetCommStateFailed, device() + ": line settings refused: " + why);
    };
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) throw refused(system_words(errno));
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CRTSCTS | CSIZE | CSTOPB | PARENB | PARODD | CMSPAR);
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= sizes[s.data_bits - 5];
    switch (s.parity) {
    case 'E': t.c_cflag |= PARENB; break;
    case 'O': t.c_cflag |= PARENB | PARODD; break;
    case 'M': t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case 'S': t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (s.stop_bits == LineSettings::StopBits::OneAndHalf) throw refused("1.5 stop bits are not supported");
    if (s.stop_bits == LineSettings::StopBits::Two) t.c_cflag |= CSTOPB;
    const speed_t speed = speed_of(s.baud);
    if (speed == B0) throw refused(std::to_string(s.baud) + " baud is not supported");
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (::cfsetispeed(&t, speed) != 0 || ::cfsetospeed(&t, speed) != 0 || ::tcsetattr(fd_, TCSANOW, &t) != 0)
        throw refused(system_words(errno));
}

void PosixSerialLink::setInBufferCount(std::int16_t count) {
    if (count != 0) throw Failure(err::InvalidPropertyValue, "InBufferCount can only be set to 0");
    require_open();
    if (::tcflush(fd_, TCIFLUSH) != 0) fail(err::ReadFailed, "discarding input failed: " + system_words(errno));
}

void PosixSerialLink::Output(std::span<const std::uint8_t> bytes) {
    require_open();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWriteBudgetMs);
    for (std::size_t sent = 0; sent < bytes.size();) {
        const ssize_t n = ::write(fd_, bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) fail(err::WriteFailed, "write refused: " + system_words(errno));
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) fail(err::WriteFailed, "the device takes no data (write timed out)");
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)))
            fail(err::WriteFailed, "the port failed while sending");
    }
    switch (drain_output([this] { return output_queued(fd_); }, deadline, drain_pause())) {
    case Drain::Done:
    case Drain::Stopped: return;
    case Drain::Failed: fail(err::WriteFailed, "drain failed: " + system_words(errno));
    case Drain::TimedOut:
        fail(err::WriteFailed, "the device stopped taking data: bytes written " + std::to_string(kWriteBudgetMs / 1000) +
                                   " s ago have still not left");
    }
}

int PosixSerialLink::InBufferCount() {
    require_open();
    int waiting = 0;
    if (::ioctl(fd_, FIONREAD, &waiting) != 0) fail(err::ReadFailed, "FIONREAD failed: " + system_words(errno));
    if (waiting > 0) return waiting;
    // Nothing waits: a port that hung up says so only to poll.
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) fail(err::ReadFailed, "the port hung up");
    return 0;
}

std::vector<std::uint8_t> PosixSerialLink::Input() {
    require_open();
    // Read at once, without asking first how much waits: one call a reply.
    std::vector<std::uint8_t> got;
    for (;;) {
        std::uint8_t buffer[4096];
        const std::size_t room = input_len() == 0 ? sizeof buffer : static_cast<std::size_t>(input_len()) - got.size();
        const ssize_t n = ::read(fd_, buffer, std::min(room, sizeof buffer));
        if (n < 0 && errno != EAGAIN && errno != EINTR) fail(err::ReadFailed, system_words(errno));
        if (n <= 0) {
            // Raw with VMIN 0, nothing waiting reads as 0, as a hang-up does.
            if (got.empty()) (void)InBufferCount();
            return got;
        }
        got.insert(got.end(), buffer, buffer + n);
        if (input_len() != 0 && got.size() >= static_cast<std::size_t>(input_len())) return got;
    }
}

bool PosixSerialLink::device_went_away() const { return device_gone(device()); }

void PosixSerialLink::fail(int number, const std::string& what) {
    if (device_went_away()) number = err::PortGone;
    break_with(Failure(number, device() + ": " + what));
}

}  // namespace vq
