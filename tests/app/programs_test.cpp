// vellquin-send against vellquin-device, as processes over a pty.

#include <gtest/gtest.h>

#include "support/qt_print.h"
#include <signal.h>

#include <QProcess>
#include <QThread>
#include <filesystem>
#include <fstream>

#include "support/child_process.h"
#include "support/temp_file.h"

namespace {

const QString kBin = QStringLiteral(VQ_BIN_DIR);
std::string bin(const char* program) { return std::string(VQ_BIN_DIR) + "/" + program; }
// Who runs the senders whose port must be left free: another user when
// this is root (root opens a port another program holds exclusively).
const int kUser = ::geteuid() == 0 ? 65534 : -1;

std::vector<std::uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> pattern(std::size_t size) {
    std::vector<std::uint8_t> image(size);
    for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>(i * 131 + i / 256);
    return image;
}

// A vellquin-device process; its first line is the path to send to.
struct Device {
    explicit Device(QStringList flags) {
        process.start(kBin + "/vellquin-device", flags);
        process.waitForReadyRead(5000);
        path = QString::fromLocal8Bit(process.readLine()).trimmed();
    }
    ~Device() {
        process.terminate();
        process.waitForFinished(3000);
    }
    // Stops the device and returns what it logged.
    QString log() {
        process.terminate();
        process.waitForFinished(3000);
        return QString::fromLocal8Bit(process.readAllStandardError());
    }
    QProcess process;
    QString path;
};

struct Sent {
    int exit_code;
    QStringList out;  // stdout lines
    QString err;
};

Sent send(const QStringList& args, const QStringList& env = {}) {
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (const QString& kv : env) e.insert(kv.section('=', 0, 0), kv.section('=', 1));
    p.setProcessEnvironment(e);
    p.start(kBin + "/vellquin-send", args);
    p.waitForFinished(60000);
    return {p.exitCode(), QString::fromLocal8Bit(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

TEST(Programs, A20KBImageArrivesByteForByteAndTheExitStatusIs0) {
    vq::test::TempDir dir;
    const auto image = pattern(20000);
    const std::string file = dir.write("fw.bin", image);
    Device device({"--out", QString::fromStdString(dir.file("got.bin"))});
    ASSERT_FALSE(device.path.isEmpty());

    const Sent s = send({"--port", device.path, QString::fromStdString(file)});
    EXPECT_EQ(s.exit_code, 0) << s.err.toStdString();
    ASSERT_EQ(s.out.size(), 21);
    EXPECT_EQ(s.out.front(), "5%") << "one NN% line per block when stdout is no terminal";
    EXPECT_EQ(s.out[19], "100%");
    EXPECT_EQ(s.out.back(), "Sending Finished!");
    QThread::msleep(100);
    const auto got = read_file(dir.file("got.bin"));
    ASSERT_EQ(got.size(), 20u * 1024);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), got.begin()));
}

TEST(Programs, EachDeviceFaultEndsWithItsOwnStatusAndLine) {
    struct Case {
        QStringList flags;
        int exit_code;
        QString out_last;  // the outcome line on stdout, if any
        QString err_line;  // the explanation on stderr, if any
    };
    const Case cases[] = {
        {{"--nak-block", "2"}, 9, "", "Gave up: the device refused block 2 ten times in a row"},
        {{"--cancel-at", "2"}, 8, "Sending Cancelled!", ""},
        {{"--no-eot-ack"}, 10, "", "No answer to the end of transmission"},
    };
    vq::test::TempDir dir;
    const std::string file = dir.write("fw.bin", pattern(3000));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags.join(' ').toStdString());
        Device device(c.flags);
        const Sent s = send({"--port", device.path, QString::fromStdString(file)});
        EXPECT_EQ(s.exit_code, c.exit_code) << s.err.toStdString();
        if (!c.out_last.isEmpty()) {
            EXPECT_EQ(s.out.back(), c.out_last);
        }
        if (!c.err_line.isEmpty()) {
            EXPECT_TRUE(s.err.contains(c.err_line)) << s.err.toStdString();
        }
    }
}

TEST(Programs, AMissingFileIsReportedAndNotCreated) {
    vq::test::TempDir dir;
    Device device({});
    const std::string missing = dir.file("missing.bin");
    const Sent s = send({"--port", device.path, QString::fromStdString(missing)});
    EXPECT_EQ(s.exit_code, 5);
    EXPECT_EQ(s.out, QStringList{"File Not Exisits!"});
    EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST(Programs, PortsAreNamedByComNumberOrByPath) {
    vq::test::TempDir dir;
    const std::string file = dir.write("fw.bin", pattern(100));
    Device device({});
    const QString env = "VELLQUIN_PORTS=" + device.path;
    EXPECT_EQ(send({"--port", "COM1", QString::fromStdString(file)}, {env}).exit_code, 0);
    EXPECT_EQ(send({QString::fromStdString(file)}, {env}).exit_code, 0) << "the first port the window lists";

    const Sent missing = send({"--port", "COM2", QString::fromStdString(file)}, {env});
    EXPECT_EQ(missing.exit_code, 4);
    EXPECT_EQ(missing.out, QStringList{"Serial port is using!"});
    EXPECT_TRUE(missing.err.contains("COM2 names no serial device")) << missing.err.toStdString();

    const Sent invalid = send({"--port", "COM0", QString::fromStdString(file)}, {env});
    EXPECT_EQ(invalid.exit_code, 3);
    EXPECT_EQ(invalid.out, (QStringList{"Invalid Serial Port", "Serial port is invalid!"}));

    const Sent path = send({"--port", "/dev/vq-no-such-port", QString::fromStdString(file)});
    EXPECT_EQ(path.exit_code, 4);
    EXPECT_TRUE(path.err.contains("/dev/vq-no-such-port")) << path.err.toStdString();
}

TEST(Programs, EveryProgramTellsItsVersionAndRefusesMalformedArguments) {
    const struct {
        std::vector<std::string> args;
        int exit_status;
        std::string out;
    } rows[] = {
        {{bin("vellquin-send"), "--version"}, 0, "vellquin-send " VQ_VERSION "\n"},
        {{bin("vellquin-device"), "--version"}, 0, "vellquin-device " VQ_VERSION "\n"},
        {{bin("vellquin-tool"), "--version"}, 0, "vellquin-tool " VQ_VERSION "\n"},
        {{bin("vellquin-device"), "--nak-block", "abc"}, 2, ""},
        {{bin("vellquin-device"), "--reply-delay", "-5"}, 2, ""},
        {{bin("vellquin-send"), "--port", "", "fw.bin"}, 2, ""},
        {{bin("vellquin-send"), "--port", "COM10", "fw.bin"}, 3, "Invalid Serial Port\nSerial port is invalid!\n"},
    };
    for (const auto& r : rows) {
        const auto got = vq::test::run_child({.args = r.args, .env = {"VELLQUIN_PORTS=/dev/vq-no-such-port"}});
        EXPECT_EQ(got.exit_status, r.exit_status) << r.args[1] << " " << got.err;
        EXPECT_EQ(got.out, r.out) << r.args[1];
    }
}

TEST(Programs, EveryWayOfStoppingCancelsReleasesThePortAndEndsWithItsStatus) {
    struct Case {
        const char* name;
        std::vector<std::string> options;
        std::vector<std::pair<int, int>> signals_at;  // ms after the start, signal
        bool stdout_reader_gone;
        int exit_status;
        std::string said, not_said;  // on stderr
    };
    const Case cases[] = {
        {"Ctrl-C", {}, {{1500, SIGINT}}, false, 11, "press Ctrl-C again", ""},
        {"SIGTERM", {}, {{1500, SIGTERM}}, false, 11, "terminated; stopping", "Ctrl-C"},
        {"--timeout", {"--timeout", "1.5"}, {}, false, 12, "timed out after 1.5 s", ""},
        {"Ctrl-C, the stdout reader gone", {}, {{1500, SIGINT}}, true, 11, "stopping", ""},
        {"Ctrl-C twice", {}, {{1500, SIGINT}, {1530, SIGINT}}, false, 11, "interrupted", ""},
    };
    vq::test::TempDir dir;
    const std::string file = dir.write("fw.bin", pattern(5000));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Device device({"--silent"});
        const std::string port = device.path.toStdString();
        ::chmod(port.c_str(), 0666);
        std::vector<std::string> args{bin("vellquin-send"), "--port", port, file};
        args.insert(args.end() - 1, c.options.begin(), c.options.end());
        const auto got = vq::test::run_child(
            {.args = args, .signals_at = c.signals_at, .stdout_reader_gone = c.stdout_reader_gone, .as_user = kUser});
        EXPECT_TRUE(got.exited) << "ended by signal " << got.signal;
        EXPECT_EQ(got.exit_status, c.exit_status) << got.err;
        EXPECT_NE(got.err.find(c.said), std::string::npos) << got.err;
        if (!c.not_said.empty()) {
            EXPECT_EQ(got.err.find(c.not_said), std::string::npos) << got.err;
        }
        const auto listed = vq::test::run_child(
            {.args = {bin("vellquin-send"), "--list"}, .env = {"VELLQUIN_PORTS=" + port}, .as_user = kUser});
        EXPECT_NE(listed.out.find(" free"), std::string::npos) << "the port is released: " << listed.out;
        if (c.signals_at.size() == 1) {
            EXPECT_TRUE(device.log().contains("cancel after")) << "CAN on the wire";
        }
    }
}

TEST(Programs, APortOrAFileTheUserMayNotOpenIsNamedWithItsFix) {
    if (kUser < 0) GTEST_SKIP() << "runs the sender as another user, which needs root";
    vq::test::TempDir dir;
    const std::string file = dir.write("fw.bin", pattern(100));
    const std::string locked = dir.write("locked.bin", pattern(100));
    ::chmod(locked.c_str(), 0600);
    Device device({});
    const std::string port = device.path.toStdString();
    const std::string not_permitted = port + " exists but you may not open it: add yourself to the dialout group";
    const struct {
        const char* name;
        mode_t port_mode;
        std::vector<std::string> args;
        int exit_status;
        std::string out, said;
    } rows[] = {
        {"--port COM1", 0600, {"--port", "COM1", file}, 4, "Serial port is using!\n", not_permitted},
        {"the first port", 0600, {file}, 4, "Serial port is using!\n", not_permitted},
        {"an unreadable file", 0666, {"--port", "COM1", locked}, 5, "File Not Exisits!\n",
         "The file cannot be read (permission denied): " + locked},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        ::chmod(port.c_str(), r.port_mode);
        std::vector<std::string> args{bin("vellquin-send")};
        args.insert(args.end(), r.args.begin(), r.args.end());
        const auto got = vq::test::run_child({.args = args, .env = {"VELLQUIN_PORTS=" + port}, .as_user = kUser});
        EXPECT_EQ(got.exit_status, r.exit_status) << got.err;
        EXPECT_EQ(got.out, r.out);
        EXPECT_NE(got.err.find(r.said), std::string::npos) << got.err;
    }
}

TEST(Programs, TheWindowSaysWhenThereIsNoDisplayAndIsCaptionedForm1WhenThereIsOne) {
    const auto none = vq::test::run_child(
        {.args = {bin("vellquin-tool")}, .env = {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="}});
    EXPECT_EQ(none.exit_status, 1);
    EXPECT_EQ(none.err, "vellquin-tool: no display was found to open the window on; vellquin-send sends without one\n");

    if (::access("/usr/bin/Xvfb", X_OK) != 0 || ::access("/usr/bin/xprop", X_OK) != 0)
        GTEST_SKIP() << "Xvfb and xprop are not installed";
    QProcess x;
    x.start("/usr/bin/Xvfb", {"-displayfd", "1", "-nolisten", "tcp"});
    ASSERT_TRUE(x.waitForReadyRead(10000));
    const QString display = ":" + QString::fromLatin1(x.readLine()).trimmed();
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("VELLQUIN_PORTS", "/dev/vq-no-such-port");
    tool.setProcessEnvironment(env);
    tool.start(kBin + "/vellquin-tool");
    QString caption;
    for (int i = 0; i < 50 && caption.isEmpty(); ++i) {  // the window manager's view of the caption
        QProcess xprop;
        xprop.start("/usr/bin/xprop", {"-display", display, "-name", "Form1", "_NET_WM_NAME"});
        xprop.waitForFinished(5000);
        if (xprop.exitCode() == 0) caption = QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
        else QThread::msleep(200);
    }
    tool.terminate();
    tool.waitForFinished(3000);
    x.terminate();
    x.waitForFinished(3000);
    EXPECT_EQ(caption, "_NET_WM_NAME(UTF8_STRING) = \"Form1\"");
}

}  // namespace

