// vellquin-send against vellquin-device, as processes over a pty.

#include <gtest/gtest.h>

#include "support/qt_print.h"
#include <signal.h>

#include <QProcess>
#include <QThread>
#include <filesystem>
#include <fstream>

#include "support/temp_file.h"

namespace {

const QString kBin = QStringLiteral(VQ_BIN_DIR);

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

Sent send(const QStringList& args, const QStringList& env = {}, int interrupt_after_ms = -1) {
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (const QString& kv : env) e.insert(kv.section('=', 0, 0), kv.section('=', 1));
    p.setProcessEnvironment(e);
    p.start(kBin + "/vellquin-send", args);
    p.waitForStarted();
    if (interrupt_after_ms >= 0) {
        QThread::msleep(static_cast<unsigned long>(interrupt_after_ms));
        ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    }
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

TEST(Programs, CtrlCDuringASilentDeviceSendsCancelsAndShowsSendingFinised) {
    vq::test::TempDir dir;
    const std::string file = dir.write("fw.bin", pattern(5000));
    Device device({"--silent"});
    const Sent s = send({"--port", device.path, QString::fromStdString(file)}, {}, 1500);
    EXPECT_EQ(s.exit_code, 11) << s.err.toStdString();
    EXPECT_EQ(s.out.back(), "Sending Finised!");
    EXPECT_TRUE(device.log().contains("cancel after"));
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

}  // namespace
