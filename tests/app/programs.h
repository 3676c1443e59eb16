#pragma once
// Runs the programs as processes against each other: vellquin-device on a
// pty, and a sender given its arguments.

#include <gtest/gtest.h>

#include "support/qt_print.h"
#include <signal.h>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <sys/ioctl.h>
#include <fcntl.h>

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "support/temp_file.h"

namespace vq::test {

const QString kBin = QStringLiteral(VQ_BIN_DIR);
// Root may open what others may not, a port held exclusively among them:
// as root, the tests that need an ordinary user run their programs as nobody.
const bool kRoot = ::geteuid() == 0;

inline std::vector<std::uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::vector<std::uint8_t> pattern(std::size_t size) {
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
    // Waits, at most 10 s, until the device has logged `text`.
    void wait_for(const QString& text) {
        QElapsedTimer waited;
        waited.start();
        while (!logged.contains(text) && waited.elapsed() < 10000) {
            process.waitForReadyRead(100);
            logged += QString::fromLocal8Bit(process.readAllStandardError());
        }
    }
    // Stops the device and returns what it logged.
    QString log() {
        process.terminate();
        process.waitForFinished(3000);
        return logged + QString::fromLocal8Bit(process.readAllStandardError());
    }
    QProcess process;
    QString path;
    QString logged;
};

// How a program is run, beyond its arguments.
struct How {
    QString program = QStringLiteral("vellquin-send");  // in the build's programs, or a path
    QStringList env{};                             // NAME=value; NAME= removes it
    std::vector<std::pair<int, int>> signals_at{};  // (milliseconds after the start, signal)
    std::function<void()> start_signal_clock{};      // waits for the moment signals_at counts from
    bool stdout_reader_gone = false;               // stdout is a pipe whose reader has gone
    bool as_nobody = false;                        // when this is root
    int wait_ms = 60000;                           // at most, for the program to end
};

struct Sent {
    int exit_code;
    QStringList out;  // stdout lines
    QString err;
    bool crashed;     // ended by a signal
};

// The programs as another user can run them: a checkout may lie in a folder
// only its owner may enter (root's home, a mktemp -d), so nobody gets copies
// in a folder of its own that anyone may enter.
inline QString bin_for(const How& how) {
    if (!how.as_nobody || !kRoot) return kBin;
    static const vq::test::TempDir reachable;
    static const QString copies = [] {
        namespace fs = std::filesystem;
        const auto everyone = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec;
        const fs::path dir = reachable.file("");
        for (const char* program : {"vellquin-send", "vellquin-device", "vellquin-tool"}) {
            fs::copy_file(fs::path(VQ_BIN_DIR) / program, dir / program, fs::copy_options::overwrite_existing);
            fs::permissions(dir / program, everyone);
        }
        fs::permissions(dir, everyone);
        return QString::fromStdString(dir.string());
    }();
    return copies;
}

inline Sent send(const QStringList& args, const How& how = {}) {
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert("VELLQUIN_RECORDS", "none");  // a test that keeps records says where
    for (const QString& kv : how.env) {
        if (kv.endsWith('=')) e.remove(kv.chopped(1));
        else e.insert(kv.section('=', 0, 0), kv.section('=', 1));
    }
    p.setProcessEnvironment(e);
    p.setChildProcessModifier([&how] {  // in the child, before it runs the program
        int gone[2];
        if (how.stdout_reader_gone && ::pipe(gone) == 0) ::dup2(gone[1], 1), ::close(gone[0]), ::close(gone[1]);
        if (how.as_nobody && kRoot && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(127);
    });
    p.start(how.program.startsWith('/') ? how.program : bin_for(how) + "/" + how.program, args);
    p.waitForStarted();
    if (how.start_signal_clock) how.start_signal_clock();
    QElapsedTimer clock;
    clock.start();
    for (auto [ms, signo] : how.signals_at) {
        QThread::msleep(static_cast<unsigned long>(std::max<qint64>(0, ms - clock.elapsed())));
        // A program that never started has no pid, and kill(0) would
        // signal this test's whole process group.
        const pid_t pid = static_cast<pid_t>(p.processId());
        if (pid > 0 && p.state() == QProcess::Running) ::kill(pid, signo);
    }
    p.waitForFinished(how.wait_ms);
    return {p.exitCode(), QString::fromLocal8Bit(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts),
            QString::fromLocal8Bit(p.readAllStandardError()), p.exitStatus() == QProcess::CrashExit};
}

}  // namespace vq::test
