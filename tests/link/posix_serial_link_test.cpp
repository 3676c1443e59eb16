#include "link/posix_serial_link.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <filesystem>
#include <fstream>
#include <thread>

#include "link/latency_timer.h"
#include "link/port_opening.h"
#include "link/port_sources.h"
#include "protocol/failure.h"
#include "support/cpu_time.h"
#include "support/recording_host.h"
#include "support/temp_file.h"

namespace vq {
namespace {

// A bare pty in the terminal's default (cooked) mode: whatever raw mode the
// slave ends up in, the link has set.
struct Pty {
    Pty() {
        char name[256];
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
        path = name;
    }
    ~Pty() {
        if (master >= 0) close(master);
        if (slave >= 0) close(slave);
    }
    std::vector<std::uint8_t> read_master(std::size_t want, int timeout_ms = 2000) const {
        std::vector<std::uint8_t> got;
        QElapsedTimer t;
        t.start();
        while (got.size() < want && t.elapsed() < timeout_ms) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            std::uint8_t buf[4096];
            const ssize_t n = read(master, buf, std::min(sizeof buf, want - got.size()));
            if (n > 0) got.insert(got.end(), buf, buf + n);
        }
        return got;
    }
    int master = -1, slave = -1;
    std::string path;
};

struct PosixLinkTest : ::testing::Test {
    PosixLinkTest() : link(PortMap(std::vector<PortEntry>{{pty.path, "pty"}})) {}
    std::int16_t open_configured() { return init_serial_port("COM1", link, messages); }
    Pty pty;
    PosixSerialLink link;
    test::RecordingMessages messages;
};

TEST_F(PosixLinkTest, OpeningAppliesRaw115200With8N1AndNoTranslation) {
    ASSERT_EQ(open_configured(), kPortReady);
    termios t{};
    ASSERT_EQ(tcgetattr(pty.slave, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), B115200);
    EXPECT_EQ(cfgetispeed(&t), B115200);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(t.c_cflag & PARENB);
    EXPECT_FALSE(t.c_cflag & CSTOPB);
    EXPECT_FALSE(t.c_cflag & CRTSCTS);
    EXPECT_TRUE(t.c_cflag & CLOCAL);  // a pty always reports CREAD: the 8250 in the guest check shows it
    EXPECT_FALSE(t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN));
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP));
    EXPECT_FALSE(t.c_oflag & OPOST);
}

TEST_F(PosixLinkTest, EveryFrameOfEveryByteValueArrivesWhole200TimesInARow) {
    ASSERT_EQ(open_configured(), kPortReady);
    std::vector<std::uint8_t> frame(1030);
    for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<std::uint8_t>(i * 37 + 11);
    for (int run = 0; run < 200; ++run) {
        frame[0] = static_cast<std::uint8_t>(run);
        link.Output(frame);
        link.setOutBufferCount(0);  // must not cut what was sent
        ASSERT_EQ(pty.read_master(1030), frame) << "run " << run;
    }
}

TEST_F(PosixLinkTest, InputReturnsAByteWaitingInTheSystemWithoutAnEvent) {
    ASSERT_EQ(open_configured(), kPortReady);
    ASSERT_EQ(write(pty.master, "\x06\x15", 2), 2);
    pollfd p{static_cast<int>(link.handle()), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 2000), 1);
    EXPECT_EQ(link.Input(), std::vector<std::uint8_t>{0x06}) << "one byte per Input";
    link.setInBufferCount(0);
    EXPECT_TRUE(link.Input().empty()) << "the rest was discarded";
}

TEST_F(PosixLinkTest, ASecondOpeningOfAHeldPortFailsWith8005) {
    ASSERT_EQ(open_configured(), kPortReady);
    PosixSerialLink other(PortMap(std::vector<PortEntry>{{pty.path, ""}}));
    other.setCommPort(1);
    try {
        other.setPortOpen(true);
        FAIL() << "opened a held port";
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), err::PortAlreadyOpen) << f.what();
    }
    EXPECT_FALSE(other.PortOpen());
    EXPECT_TRUE(link.PortOpen()) << "the holder is untouched";
    // Our lock is exclusive: not even a shared one is granted, and the
    // refused opening kept none.
    const int fd = ::open(pty.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    EXPECT_NE(::flock(fd, LOCK_SH | LOCK_NB), 0);
    link.setPortOpen(false);
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0) << "a lock outlived the port";
    ::close(fd);
}

// Another program holds a port by opening it with this link, by flock, by
// TIOCEXCL (which root passes: vellquin-send run as another user covers it
// for root) or by a UUCP lock file of a live process.
// A lock file of another user's live process: kill() may not signal it
// (EPERM), and it still holds the port.
TEST(HeldPorts, ALockFileOfAnotherUsersLiveProcessHolds) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && ::setuid(65534) != 0) ::_exit(2);  // nobody, who may not signal init
        ::_exit(live_lock_owner("         1\n") == 1 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "init's lock was taken for a dead one's";
}

TEST(HeldPorts, APortHeldInAnyWayFailsWith8005AndAStaleLockFileIsReplaced) {
    enum Way { Link, Flock, Exclusive, LockFile };
    for (Way way : {Link, Flock, Exclusive, LockFile}) {
        if (way == Exclusive && ::geteuid() == 0) continue;
        Pty pty;
        test::TempDir locks;
        const PortMap ports(std::vector<PortEntry>{{pty.path, ""}});
        PosixSerialLink holder(ports, locks.file("")), link(ports, locks.file(""));
        const int fd = ::open(pty.path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (way == Link) holder.setPortOpen(true);
        if (way == Flock) ::flock(fd, LOCK_EX);
        if (way == Exclusive) ::ioctl(fd, TIOCEXCL);
        if (way == LockFile) std::ofstream(uucp_lock_path(locks.file(""), pty.path)) << "  " << ::getpid() << "\n";
        const auto descriptors = [] {
            return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator());
        };
        const auto before = descriptors();
        try {
            link.setPortOpen(true);
            ADD_FAILURE() << "opened a port held by way " << way;
        } catch (const Failure& f) {
            EXPECT_EQ(f.number(), err::PortAlreadyOpen) << way << ": " << f.what();
            std::string us;
            std::getline(std::ifstream("/proc/self/comm"), us);
            EXPECT_EQ(f.what(), pty.path + ": held by another program (" + us + ", pid " + std::to_string(::getpid()) + ")");
        }
        EXPECT_EQ(descriptors(), before) << way << ": the refused opening kept its descriptor";
        if (way == LockFile) {
            EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0) << "the refused opening kept its lock";
        }
        ::close(fd);
    }

    Pty pty;
    test::TempDir locks;
    const std::string lock_file = uucp_lock_path(locks.file(""), pty.path);
    const pid_t gone = ::fork();
    if (gone == 0) ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    std::ofstream(lock_file) << gone << "\nsome-program\n";  // Qt writes the program's name after the pid
    // Named through a link, the port is locked as the tty it leads to.
    const std::string by_link = locks.file("by-id-link");
    std::filesystem::create_symlink(pty.path, by_link);
    PosixSerialLink link(PortMap(std::vector<PortEntry>{{by_link, ""}}), locks.file(""));
    link.setPortOpen(true);
    EXPECT_FALSE(std::filesystem::exists(uucp_lock_path(locks.file(""), by_link)));
    std::ifstream ours(lock_file);
    long pid = 0;
    EXPECT_TRUE(ours >> pid && pid == ::getpid()) << "the stale lock was replaced by this program's";
    link.setPortOpen(false);
    EXPECT_FALSE(std::filesystem::exists(lock_file));
}

TEST_F(PosixLinkTest, OpeningFailuresAreToldApart) {
    PosixSerialLink nothing(PortMap(std::vector<PortEntry>{{"/dev/ttyVQ-no-such-device", ""}}));
    nothing.setCommPort(1);
    try {
        nothing.setPortOpen(true);
        FAIL();
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), err::PortInvalid);
    }
    nothing.setCommPort(2);
    try {
        nothing.setPortOpen(true);
        FAIL();
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), err::PortInvalid) << "a number past the map names no port";
    }
}

// The pty takes a few kilobytes before the other side reads: the write
// waits for room within its budget instead of failing.
TEST_F(PosixLinkTest, AFullOutputBufferMakesTheWriteWaitForRoom) {
    ASSERT_EQ(open_configured(), kPortReady);
    std::size_t got = 0;
    std::thread reader([&] {
        pollfd p{pty.master, POLLIN, 0};
        ::poll(&p, 1, 50);  // lets the buffer fill first
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        got = pty.read_master(100000, 3000).size();
    });
    EXPECT_NO_THROW(link.Output(std::vector<std::uint8_t>(100000, 0x55)));
    reader.join();
    EXPECT_EQ(got, 100000u);
}

// A device still there that takes nothing: the write fails after its 2 s,
// and the port stays open, so that the upload can still send its cancel.
TEST_F(PosixLinkTest, AWriteThatFailsOnAPresentDeviceLeavesThePortOpen) {
    ASSERT_EQ(open_configured(), kPortReady);
    try {
        link.Output(std::vector<std::uint8_t>(1 << 20, 0x55));  // more than the pty holds; nobody reads
        ADD_FAILURE() << "a megabyte went into a pty nobody reads";
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), err::WriteFailed) << f.what();
    }
    EXPECT_TRUE(link.PortOpen());
}

// Settings refused after the opening leave the port open, and usable; only a
// device that went away closes it.
TEST_F(PosixLinkTest, SettingsRefusedOnAnOpenPortLeaveItOpen) {
    ASSERT_EQ(open_configured(), kPortReady);
    try {
        link.setSettings("115200,N,8,1.5");
        ADD_FAILURE() << "1.5 stop bits were taken";
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), err::SetCommStateFailed);
    }
    EXPECT_TRUE(link.PortOpen());
    EXPECT_EQ(open_configured(), kPortReady);
}

// A port left open (after "File Not Exisits!") whose adapter is unplugged
// and plugged in again: the list may have moved on, but the open port is
// the device it was opened on, and the settings of the next upload find it
// gone and close it, so that the next opening takes the new device.
TEST_F(PosixLinkTest, SettingsOnAnOpenPortWhoseDeviceVanishedCloseItEvenAfterTheListMovedOn) {
    ASSERT_EQ(open_configured(), kPortReady);
    const std::string opened_on = link.device();
    Pty replugged;  // made before the old one goes, so it has another number
    link.setPorts(PortMap(std::vector<PortEntry>{{replugged.path, ""}}));
    EXPECT_EQ(link.device(), opened_on);
    close(pty.master);
    close(pty.slave);
    pty.master = pty.slave = -1;
    try {
        link.setSettings("115200,N,8,1");
        ADD_FAILURE() << "settings were put on a vanished device";
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), err::PortGone) << f.what();
    }
    EXPECT_FALSE(link.PortOpen());
    link.setPortOpen(false);
    EXPECT_EQ(open_configured(), kPortReady);
    EXPECT_EQ(link.device(), replugged.path);
}

TEST_F(PosixLinkTest, TheFirstErrorAfterTheDeviceVanishesClosesThePortWithoutSpinning) {
    ASSERT_EQ(open_configured(), kPortReady);
    close(pty.master);
    close(pty.slave);
    pty.master = pty.slave = -1;
    const double cpu = test::process_cpu_seconds();
    QElapsedTimer t;
    t.start();
    bool failed = false;
    while (t.elapsed() < 300 && !failed) {
        try {
            link.Input();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        } catch (const Failure& f) {
            failed = true;
            EXPECT_EQ(f.number(), err::PortGone) << f.what();
        }
    }
    EXPECT_TRUE(failed);
    EXPECT_FALSE(link.PortOpen());
    try {
        link.Output(std::vector<std::uint8_t>(1030));
        ADD_FAILURE() << "a vanished port took a frame";
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), err::PortGone) << "later operations report the error that closed the port";
    }
    EXPECT_NO_THROW(link.setPortOpen(false));
    EXPECT_LT(test::process_cpu_seconds() - cpu, 0.2);
}

// An adapter asked for low latency gets its flags back as they were found
// when the port closes; one that has it already, or refuses, is left alone.
TEST(LowLatency, IsAskedForAnUploadAndGivenBackAtTheClose) {
    const struct {
        std::optional<int> found;
        bool takes;
        std::vector<int> writes;
    } rows[] = {
        {0x40, true, {0x40 | ASYNC_LOW_LATENCY, 0x40}},
        {0x40 | ASYNC_LOW_LATENCY, true, {}},
        {0x40, false, {0x40 | ASYNC_LOW_LATENCY}},
        {std::nullopt, true, {}},  // no USB adapter
    };
    for (const auto& r : rows) {
        Pty pty;
        std::vector<int> writes;
        PosixSerialLink link(PortMap(std::vector<PortEntry>{{pty.path, ""}}), "",
                             {[&](int, const std::string&) { return r.found; },
                              [&](int, int flags) { return writes.push_back(flags), r.takes; }});
        link.setPortOpen(true);
        link.setSettings("115200,N,8,1");
        link.setPortOpen(false);
        EXPECT_EQ(writes, r.writes) << std::hex << r.found.value_or(-1);
    }
}

TEST(LineSettings, ParsesTheSettingsText) {
    const auto s = parse_line_settings("115200,N,8,1");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->baud, 115200);
    EXPECT_EQ(s->parity, 'N');
    EXPECT_EQ(s->data_bits, 8);
    EXPECT_EQ(s->stop_bits, LineSettings::StopBits::One);
    EXPECT_TRUE(parse_line_settings("9600,E,7,2"));
    for (const char* bad : {"", "115200", "115200,N,8", "fast,N,8,1", "115200,X,8,1", "115200,N,9,1", "-1,N,8,1"})
        EXPECT_FALSE(parse_line_settings(bad)) << bad;
}

TEST(LatencyTimer, IsReadFromThePortDeviceOrTheOneAboveIt) {
    test::TempDir sys;
    namespace fs = std::filesystem;
    const fs::path root = sys.file("");
    fs::create_directories(root / "ttyUSB0/device");
    std::ofstream(root / "ttyUSB0/device/latency_timer") << "16\n";
    fs::create_directories(root / "usb/1-1:1.0/ttyUSB1");
    std::ofstream(root / "usb/1-1:1.0/latency_timer") << "1\n";
    fs::create_directories(root / "ttyUSB1");
    fs::create_directory_symlink(root / "usb/1-1:1.0/ttyUSB1", root / "ttyUSB1/device");
    fs::create_directories(root / "ttyACM0/device");
    fs::create_directories(root / "ttyUSB2/device");
    std::ofstream(root / "ttyUSB2/device/latency_timer") << "0\n";  // QEMU's adapter
    EXPECT_EQ(latency_timer_ms(root, "ttyUSB2"), 0);
    EXPECT_EQ(latency_timer_ms(root, "ttyUSB0"), 16);
    EXPECT_EQ(latency_timer_ms(root, "ttyUSB1"), 1);
    EXPECT_EQ(latency_timer_ms(root, "ttyACM0"), std::nullopt);
    EXPECT_EQ(latency_timer_ms(root, "ttyUSB9"), std::nullopt);
}

}  // namespace
}  // namespace vq

namespace vq {
namespace {

TEST(ListPortSource, ReadsItsFileAnewAtEveryLookOneNameALineOrSeparated) {
    test::TempDir dir;
    const std::string file = dir.write("ports", {});
    const auto source = ListPortSource::of_file(file);
    EXPECT_TRUE(source->present().empty());
    std::ofstream(file) << "/dev/pts/7\n/dev/pts/9;/dev/pts/8\n";
    const auto ports = source->present();
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports[1].device, "/dev/pts/9");
    EXPECT_EQ(ports[1].identity, "device /dev/pts/9");
}

TEST(PortSourceFromEnvironment, AVellquinPortsThatNamesNoDeviceLeavesTheSystemsList) {
    const char* kept = std::getenv("VELLQUIN_PORTS_FILE");
    const std::string file = kept ? kept : "";
    ::unsetenv("VELLQUIN_PORTS_FILE");
    const struct { const char* value; bool system; } rows[] = {{"", true}, {" ; : ", true}, {"/dev/pts/7", false}};
    for (const auto& r : rows) {
        ::setenv("VELLQUIN_PORTS", r.value, 1);
        const auto source = port_source_from_environment();
        EXPECT_EQ(dynamic_cast<SystemPortSource*>(source.get()) != nullptr, r.system) << "'" << r.value << "'";
    }
    ::unsetenv("VELLQUIN_PORTS");
    if (kept) ::setenv("VELLQUIN_PORTS_FILE", file.c_str(), 1);
}

TEST(PortLists, EachListNamesItsSourceAndDevicesShowWithoutDev) {
    test::TempDir dir;
    const std::string file = dir.write("ports.txt", {'p', 't', 'y', '\n'});
    EXPECT_EQ(ListPortSource::of_file(file)->present().at(0).description, "from VELLQUIN_PORTS_FILE");
    EXPECT_EQ(ListPortSource::of_text("pty")->present().at(0).description, "from VELLQUIN_PORTS");
    EXPECT_EQ(short_device_name("/dev/pts/2") + " " + short_device_name("COM3"), "pts/2 COM3");
}

}  // namespace
}  // namespace vq
