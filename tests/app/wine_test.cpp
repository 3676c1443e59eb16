// vellquin-send.exe and the window under Wine against vellquin-device: each
// pty stands behind a COM port of a throwaway Wine prefix, and the programs
// reach it through the Win32 calls a Windows machine has.
//
// VQ_WINDOWS_BIN names the folder of the Windows build's programs. COMn of
// the prefix leads to <ports>/comN, a link each test points at a device's
// pty; COM10 to COM64 lead nowhere, so that this machine's own serial ports
// (Wine numbers them after those) are out of every test's reach.

#include "app/programs.h"
#include "records/store.h"
#include "support/postgres_server.h"

namespace {

using namespace vq::test;

const QString kRoot = QStringLiteral(VQ_SOURCE_DIR);

// A throwaway Wine prefix, and the programs of the Windows build run in it.
class WinePrefix {
public:
    // `display`: the X display its windows go to; empty for none.
    explicit WinePrefix(QString display = {}) : display_(std::move(display)) {
        std::filesystem::create_directory(dir_.file("ports"));
        run(kRoot + "/scripts/wine-run", {"cmd", "/c", "exit"}, 120000);
        // One wineserver for every program, kept until the end and quiet:
        // it dumps its objects to stderr when it exits.
        run("/usr/lib/wine/wineserver", {"-p"}, 10000);
    }
    ~WinePrefix() { run("/usr/lib/wine/wineserver", {"-k"}, 10000); }

    QProcessEnvironment environment() const {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        for (const QString& kv : env()) {
            if (kv.endsWith('=')) e.remove(kv.chopped(1));
            else e.insert(kv.section('=', 0, 0), kv.section('=', 1));
        }
        return e;
    }
    // The same as NAME=value settings; NAME= removes it.
    QStringList env() const {
        // Wine hands the environment on, and these name Linux paths.
        return {"WINEPREFIX=" + QString::fromStdString(dir_.file("prefix")),
                "VQ_WINE_PORTS_DIR=" + QString::fromStdString(dir_.file("ports")),
                "VQ_WINE_DISPLAY=" + display_, "VELLQUIN_PORTS=", "VELLQUIN_PORTS_FILE="};
    }
    // Puts `device` behind COMn.
    void plug(int n, const QString& device) const {
        const auto link = std::filesystem::path(dir_.file("ports")) / ("com" + std::to_string(n));
        std::filesystem::remove(link);
        std::filesystem::create_symlink(device.toStdString(), link);
    }
    // No COM port of the prefix may lead to this machine's serial ports.
    ::testing::AssertionResult safe() const {
        if (!std::filesystem::is_symlink(dir_.file("prefix/dosdevices/com2")))
            return ::testing::AssertionFailure() << "the prefix was not made";
        for (int n = 1; n <= 64; ++n) {
            std::error_code ec;
            const auto link = std::filesystem::path(dir_.file("prefix/dosdevices")) / ("com" + std::to_string(n));
            const auto target = std::filesystem::weakly_canonical(link, ec).string();
            if (target.rfind("/dev/ttyS", 0) == 0) return ::testing::AssertionFailure() << "COM" << n << " leads to " << target;
        }
        return ::testing::AssertionSuccess();
    }
    // A program of the Windows build with `args`, as wine-run runs it.
    static QStringList program(const char* exe, QStringList args = {}) {
        args.prepend(QString::fromLocal8Bit(std::getenv("VQ_WINDOWS_BIN")) + "/" + exe);
        return args;
    }

private:
    void run(const QString& program, const QStringList& args, int ms) const {
        QProcess p;
        p.setProcessEnvironment(environment());
        p.setStandardOutputFile(QProcess::nullDevice());
        p.setStandardErrorFile(QProcess::nullDevice());
        p.start(program, args);
        p.waitForFinished(ms);
    }
    TempDir dir_;
    QString display_;
};

class WineSender : public ::testing::Test {
protected:
    static void SetUpTestSuite() { prefix_ = new WinePrefix; }
    static void TearDownTestSuite() { delete prefix_; }
    void SetUp() override {
        ASSERT_NE(std::getenv("VQ_WINDOWS_BIN"), nullptr) << "VQ_WINDOWS_BIN names the Windows build's programs";
        ASSERT_TRUE(prefix_->safe());
    }
    static void plug(int n, const QString& device) { prefix_->plug(n, device); }
    static Sent send_exe(QStringList args, std::vector<std::pair<int, int>> signals_at = {},
                         std::function<void()> start_signal_clock = {}) {
        Sent sent = send(WinePrefix::program("vellquin-send.exe", args),
                         {.program = kRoot + "/scripts/wine-run",
                          .env = prefix_->env(),
                          .signals_at = std::move(signals_at),
                          .start_signal_clock = std::move(start_signal_clock)});
        for (QString& line : sent.out) line.remove('\r');  // Windows ends its lines with CR LF
        sent.err.remove('\r');
        return sent;
    }
    static inline WinePrefix* prefix_ = nullptr;
};

TEST_F(WineSender, EachEndingIsTheOneTheLinuxSenderGives) {
    struct Case {
        const char* name;
        QStringList device_flags, options;
        bool missing_file;
        int exit_code;
        QString out_last, err_line;
    };
    const Case cases[] = {
        {"finished", {}, {"--port", "COM2"}, false, 0, "Sending Finished!", ""},
        {"the device path form, a file named in Greek", {}, {"--port", "\\\\.\\COM2"}, false, 0, "Sending Finished!", ""},
        {"paced by replies", {}, {"--port", "COM2", "--pace", "reply"}, false, 0, "Sending Finished!", ""},
        {"the first port listed", {}, {}, false, 0, "Sending Finished!", ""},
        {"refused ten times", {"--nak-block", "2"}, {"--port", "COM2"}, false, 9, "",
         "Gave up: the device refused block 2 ten times in a row"},
        {"cancelled", {"--cancel-at", "2"}, {"--port", "COM2"}, false, 8, "Sending Cancelled!", ""},
        {"a missing file", {}, {"--port", "COM2"}, true, 5, "File Not Exisits!", ""},
        {"no device", {}, {"--port", "COM3"}, false, 4, "Serial port is using!", "no such serial port"},
        {"unplugged", {"--silent", "--unplug-after", "3"}, {"--port", "COM2"}, false, 1, "",
         "The device was disconnected during block 1 (the port went away)"},
    };
    TempDir dir;
    const auto image = pattern(20000);
    const std::string file = dir.write("fw.bin", image), greek = dir.write("υλικολογισμικό.bin", image);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Device device(QStringList{"--out", QString::fromStdString(dir.file("got.bin"))} + c.device_flags);
        plug(2, device.path);
        const std::string& named = c.options.contains("\\\\.\\COM2") ? greek : file;
        const Sent s = send_exe(c.options + QStringList{QString::fromStdString(c.missing_file ? dir.file("none.bin") : named)});
        EXPECT_EQ(s.exit_code, c.exit_code) << s.err.toStdString();
        if (!c.out_last.isEmpty()) {
            ASSERT_FALSE(s.out.isEmpty());
            EXPECT_EQ(s.out.back(), c.out_last);
        }
        EXPECT_TRUE(s.err.contains(c.err_line)) << s.err.toStdString();
        device.log();
        if (c.exit_code == 0) {
            const auto got = read_file(dir.file("got.bin"));
            ASSERT_EQ(got.size(), 20480u) << "20 blocks";
            EXPECT_TRUE(std::equal(image.begin(), image.end(), got.begin())) << "byte for byte";
            EXPECT_TRUE(std::all_of(got.begin() + 20000, got.end(), [](std::uint8_t b) { return b == 0xFF; }));
        }
    }
}

TEST_F(WineSender, AHeldPortIsRefusedAndCtrlCStopsTheHolderWithCansAndReleasesIt) {
    TempDir dir;
    const QString file = QString::fromStdString(dir.write("fw.bin", pattern(5000)));
    Device device({"--silent"});
    plug(2, device.path);
    Sent second{};
    // Once the first sends, a second tries the port; then Ctrl-C, which Wine
    // hands to a console program as such.
    const Sent first = send_exe({"--port", "COM2", file}, {{0, SIGINT}}, [&] {
        device.wait_for("block 1");
        second = send_exe({"--port", "COM2", file});
    });
    EXPECT_EQ(second.exit_code, 4) << second.err.toStdString();
    EXPECT_EQ(second.out, QStringList{"Serial port is using!"});
    EXPECT_EQ(first.exit_code, 11) << first.err.toStdString();
    EXPECT_TRUE(first.err.contains("stopping; press Ctrl-C again to quit at once")) << first.err.toStdString();
    EXPECT_EQ(first.out.back(), "Sending Finised!");
    const Sent listed = send_exe({"--list"});
    EXPECT_EQ(listed.out.filter(QRegularExpression("^COM2 ")).join(""), "COM2    COM2                 free") << "released";
    EXPECT_TRUE(device.log().contains("cancel after")) << "CAN on the wire";
}

TEST_F(WineSender, TwoPortsAtOnceEndWithJsonLinesASummaryCsvAndTheirRecordsInSqlite) {
    TempDir dir;
    const QString file = QString::fromStdString(dir.write("fw.bin", pattern(5000)));
    const QString logs = QString::fromStdString(dir.file("logs"));
    Device a({}), b({"--cancel-at", "2"});
    plug(2, a.path);
    plug(3, b.path);
    const QString records = "sqlite:Z:" + QString::fromStdString(dir.file("records.sqlite"));
    const Sent s = send_exe({"--port", "COM2", "--port", "COM3", "--json", "--log", logs, "--records", records, file});
    std::map<QString, QString> outcome;
    for (const QString& line : s.out) {
        const QJsonDocument json = QJsonDocument::fromJson(line.toUtf8());
        ASSERT_TRUE(json.isObject()) << "not JSON: " << line.toStdString();
        if (json["event"] == "end") outcome[json["port"].toString()] = json["outcome"].toString();
    }
    EXPECT_EQ(outcome, (std::map<QString, QString>{{"COM2", "finished"}, {"COM3", "cancelled"}}));
    EXPECT_EQ(s.exit_code, 8);
    EXPECT_EQ(QDir(logs).entryList({"*.log"}).size(), 2);
    QFile csv(logs + "/summary.csv");
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(csv.readAll()).count('\n'), 3) << "a header and a row a port";
    std::map<std::string, std::string> kept;
    for (const auto& r : vq::records::list(*vq::records::open_sqlite_store(dir.file("records.sqlite"), false), {}))
        kept[r.port] = r.outcome + (r.log_file.ends_with("_" + r.outcome + ".log") ? ", logged" : "");
    EXPECT_EQ(kept, (std::map<std::string, std::string>{{"COM2", "finished, logged"}, {"COM3", "cancelled, logged"}}));
}

// A line's server, reached through the system's ODBC: Wine's odbc32 hands it
// to this machine's unixODBC and psqlODBC.
TEST_F(WineSender, ARecordReachesTheLinesPostgresqlServerThroughOdbc) {
    TempDir dir;
    const QString file = QString::fromStdString(dir.write("fw.bin", pattern(3000)));
    PostgresServer server;
    Device device({});
    plug(2, device.path);
    const Sent s = send_exe({"--port", "COM2", "--unit", "SN-W1", "--records", QString::fromStdString(server.uri()), file});
    EXPECT_EQ(s.exit_code, 0) << s.err.toStdString();
    EXPECT_FALSE(s.err.contains("record")) << s.err.toStdString();
    const auto kept = vq::records::list(*vq::records::open_server_store(server.uri()), {});
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].unit + " " + kept[0].outcome + " " + kept[0].tty, "SN-W1 finished COM2");
}

TEST_F(WineSender, TheVersionIsTheBuildsAndTheListProbesCom1ToCom9AndOmitsHigherPortsNoDriverDescribes) {
    EXPECT_EQ(send_exe({"--version"}).out, QStringList{"vellquin-send " VQ_VERSION});
    Device device({}), ninth({});
    plug(2, device.path);
    plug(3, "/nonexistent/vq-com3");  // an earlier test's pty number may be ninth's now
    plug(9, ninth.path);
    const Sent s = send_exe({"--list"});
    EXPECT_EQ(s.exit_code, 0);
    const QString text = s.out.join('\n');
    EXPECT_TRUE(text.contains(QRegularExpression("^COM2 +COM2 +free$", QRegularExpression::MultilineOption))) << text.toStdString();
    EXPECT_TRUE(text.contains(QRegularExpression("^COM9 +COM9 +free$", QRegularExpression::MultilineOption))) << text.toStdString();
    EXPECT_FALSE(text.contains(QRegularExpression("^COM3 ", QRegularExpression::MultilineOption))) << "nothing stands behind it";
    EXPECT_EQ(s.out.filter("\\\\.\\COM"), QStringList{}) << "Wine names COM10 and up, but they lead nowhere";
}

}  // namespace

namespace {

// The window on a virtual X display, in a prefix of its own made with that
// display: a prefix first started without one keeps none.
class WineWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        x_ = new QProcess;
        x_->start("/usr/bin/Xvfb", {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1024x768x24"});
        x_->waitForReadyRead(10000);
        display_ = ":" + QString::fromLatin1(x_->readLine()).trimmed();
        prefix_ = new WinePrefix(display_);
    }
    static void TearDownTestSuite() {
        delete prefix_;
        x_->terminate();
        x_->waitForFinished(3000);
        delete x_;
    }
    void SetUp() override {
        ASSERT_NE(std::getenv("VQ_WINDOWS_BIN"), nullptr) << "VQ_WINDOWS_BIN names the Windows build's programs";
        ASSERT_NE(display_, ":") << "Xvfb did not start";
        ASSERT_TRUE(prefix_->safe());
    }
    static inline QProcess* x_ = nullptr;
    static inline QString display_;
    static inline WinePrefix* prefix_ = nullptr;
};

// The program itself: found on the display by its caption, with the client
// area of its twips at 96 DPI and the status row.
TEST_F(WineWindow, TheProgramShowsForm1At707By313Pixels) {
    QProcess tool;
    tool.setProcessEnvironment(prefix_->environment());
    tool.start(kRoot + "/scripts/wine-run", WinePrefix::program("vellquin-tool.exe"));
    QString info;
    // Until it has its size: Wine makes the window before it lays it out.
    for (int i = 0; i < 60 && !info.contains("Width: 707"); ++i) {
        QProcess xwininfo;
        xwininfo.start("/usr/bin/xwininfo", {"-display", display_, "-name", "Form1"});
        xwininfo.waitForFinished(5000);
        info = xwininfo.exitCode() == 0 ? QString::fromUtf8(xwininfo.readAllStandardOutput()) : QString();
        QThread::msleep(250);
    }
    tool.terminate();
    tool.waitForFinished(5000);
    EXPECT_TRUE(info.contains(QRegularExpression("Width: 707\\n"))) << info.toStdString();
    EXPECT_TRUE(info.contains(QRegularExpression("Height: 313\\n"))) << info.toStdString();
}

// The window's own tests (tests/ui/win32), with its real serial link and
// a device behind COM2.
TEST_F(WineWindow, TheWindowsTestsPassAgainstADeviceBehindCom2) {
    TempDir dir;
    const std::string out = dir.file("got.bin");
    Device device({"--out", QString::fromStdString(out)});
    prefix_->plug(2, device.path);
    QStringList env = prefix_->env();
    env << "VQ_DEVICE_OUT=Z:" + QString::fromStdString(out);
    const Sent s = send(WinePrefix::program("vq_window_tests.exe"),
                        {.program = kRoot + "/scripts/wine-run", .env = env, .wait_ms = 180000});
    EXPECT_EQ(s.exit_code, 0) << s.out.join('\n').toStdString();
    EXPECT_TRUE(s.out.join('\n').contains("[  PASSED  ] 13 tests.")) << s.out.join('\n').toStdString();
    EXPECT_EQ(device.log().count("cancel after"), 2) << "Stop and closing each sent CAN";
}

}  // namespace
