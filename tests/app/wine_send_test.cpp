// vellquin-send.exe under Wine against vellquin-device: each pty stands
// behind a COM port of a throwaway Wine prefix, and the sender reaches it
// through the Win32 calls a Windows machine has.
//
// VQ_WINDOWS_BIN names the folder of the Windows build's programs. COMn of
// the prefix leads to <ports>/comN, a link each test points at a device's
// pty; COM10 to COM64 lead nowhere, so that this machine's own serial ports
// (Wine numbers them after those) are out of every test's reach.

#include "app/programs.h"

namespace {

using namespace vq::test;

const QString kRoot = QStringLiteral(VQ_SOURCE_DIR);

class WineSender : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        prefix_ = new TempDir;
        std::filesystem::create_directory(prefix_->file("ports"));
        QProcess boot;
        boot.setProcessEnvironment(environment());
        boot.start(kRoot + "/scripts/wine-run", {"cmd", "/c", "exit"});
        boot.waitForFinished(120000);
        // One wineserver for every program of the suite, kept until the
        // end and quiet: it dumps its objects to stderr when it exits.
        QProcess server;
        server.setProcessEnvironment(environment());
        server.setStandardOutputFile(QProcess::nullDevice());
        server.setStandardErrorFile(QProcess::nullDevice());
        server.start("/usr/lib/wine/wineserver", {"-p"});
        server.waitForFinished(10000);
    }
    static void TearDownTestSuite() {
        QProcess stop;
        stop.setProcessEnvironment(environment());
        stop.start("/usr/lib/wine/wineserver", {"-k"});
        stop.waitForFinished(10000);
        delete prefix_;
    }
    void SetUp() override {
        ASSERT_NE(std::getenv("VQ_WINDOWS_BIN"), nullptr) << "VQ_WINDOWS_BIN names the Windows build's programs";
        // No COM port of the prefix may lead to this machine's serial ports.
        for (int n = 1; n <= 64; ++n) {
            std::error_code ec;
            const auto link = std::filesystem::path(prefix_->file("prefix/dosdevices")) / ("com" + std::to_string(n));
            const auto target = std::filesystem::weakly_canonical(link, ec).string();
            ASSERT_TRUE(target.rfind("/dev/ttyS", 0) != 0) << "COM" << n << " leads to " << target;
        }
        ASSERT_TRUE(std::filesystem::is_symlink(prefix_->file("prefix/dosdevices/com2"))) << "the prefix was not made";
    }
    static QProcessEnvironment environment() {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("WINEPREFIX", QString::fromStdString(prefix_->file("prefix")));
        e.insert("VQ_WINE_PORTS_DIR", QString::fromStdString(prefix_->file("ports")));
        e.remove("VELLQUIN_PORTS");  // Wine hands the environment on, and these name Linux paths
        e.remove("VELLQUIN_PORTS_FILE");
        return e;
    }
    // Puts `device` behind COMn.
    static void plug(int n, const QString& device) {
        const auto link = std::filesystem::path(prefix_->file("ports")) / ("com" + std::to_string(n));
        std::filesystem::remove(link);
        std::filesystem::create_symlink(device.toStdString(), link);
    }
    static Sent send_exe(QStringList args, std::vector<std::pair<int, int>> signals_at = {}) {
        const QStringList env{"WINEPREFIX=" + QString::fromStdString(prefix_->file("prefix")), "VELLQUIN_PORTS=",
                              "VELLQUIN_PORTS_FILE="};
        args.prepend(QString::fromLocal8Bit(std::getenv("VQ_WINDOWS_BIN")) + "/vellquin-send.exe");
        Sent sent = send(args, {.program = kRoot + "/scripts/wine-run", .env = env, .signals_at = std::move(signals_at)});
        for (QString& line : sent.out) line.remove('\r');  // Windows ends its lines with CR LF
        sent.err.remove('\r');
        return sent;
    }
    static inline TempDir* prefix_ = nullptr;
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
    QThread* other = QThread::create([&] {
        QThread::msleep(2500);  // the first has the port by then
        second = send_exe({"--port", "COM2", file});
    });
    other->start();
    // Wine hands SIGINT to a console program as its Ctrl-C.
    const Sent first = send_exe({"--port", "COM2", file}, {{6000, SIGINT}});
    other->wait();
    delete other;
    EXPECT_EQ(second.exit_code, 4) << second.err.toStdString();
    EXPECT_EQ(second.out, QStringList{"Serial port is using!"});
    EXPECT_EQ(first.exit_code, 11) << first.err.toStdString();
    EXPECT_TRUE(first.err.contains("stopping; press Ctrl-C again to quit at once")) << first.err.toStdString();
    EXPECT_EQ(first.out.back(), "Sending Finised!");
    const Sent listed = send_exe({"--list"});
    EXPECT_EQ(listed.out.filter(QRegularExpression("^COM2 ")).join(""), "COM2    COM2                 free") << "released";
    EXPECT_TRUE(device.log().contains("cancel after")) << "CAN on the wire";
}

TEST_F(WineSender, TwoPortsAtOnceEndWithJsonLinesAndASummaryCsv) {
    TempDir dir;
    const QString file = QString::fromStdString(dir.write("fw.bin", pattern(5000)));
    const QString logs = QString::fromStdString(dir.file("logs"));
    Device a({}), b({"--cancel-at", "2"});
    plug(2, a.path);
    plug(3, b.path);
    const Sent s = send_exe({"--port", "COM2", "--port", "COM3", "--json", "--log", logs, file});
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
}

TEST_F(WineSender, TheVersionIsTheBuildsAndTheListProbesCom1ToCom9AndShowsHigherPortsUnopened) {
    EXPECT_EQ(send_exe({"--version"}).out, QStringList{"vellquin-send " VQ_VERSION});
    Device device({});
    plug(2, device.path);
    const Sent s = send_exe({"--list"});
    EXPECT_EQ(s.exit_code, 0);
    const QString text = s.out.join('\n');
    EXPECT_TRUE(text.contains(QRegularExpression("^COM2 +COM2 +free$", QRegularExpression::MultilineOption))) << text.toStdString();
    EXPECT_FALSE(text.contains(QRegularExpression("^COM3 ", QRegularExpression::MultilineOption))) << "nothing stands behind it";
    for (const QString& line : s.out.filter("\\\\.\\COM"))
        EXPECT_TRUE(line.contains("not probed: give --port to use it")) << line.toStdString();
}

}  // namespace
