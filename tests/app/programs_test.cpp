// vellquin-send against vellquin-device, as processes over a pty.

#include "app/programs.h"

#include <fstream>
#include <set>

#include "records/file_hash.h"
#include "records/store.h"

namespace {

using namespace vq::test;

// What `p` writes on stderr until it says `text`, 5 s at most.
QString stderr_until(QProcess& p, const QString& text) {
    QString err;
    QElapsedTimer waited;
    waited.start();
    while (!err.contains(text) && waited.elapsed() < 5000) {
        p.waitForReadyRead(100);
        err += QString::fromUtf8(p.readAllStandardError());
    }
    return err;
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
    device.wait_for("written to");
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

TEST(Programs, AReceiverThatNeverAsksEndsAfterTheStartWaitGivenNotTheDefault) {
    vq::test::TempDir dir;
    Device device({});  // a device of the device protocol asks only when woken
    const std::string file = dir.write("fw.bin", pattern(100));
    QElapsedTimer elapsed;
    elapsed.start();
    const Sent s = send({"--protocol", "xmodem", "--start-wait", "1", "--port", device.path, QString::fromStdString(file)});
    EXPECT_EQ(s.exit_code, 14) << s.err.toStdString();
    EXPECT_GE(elapsed.elapsed(), 1000);
    EXPECT_LT(elapsed.elapsed(), 10000);
    EXPECT_TRUE(s.err.contains("within 1 s")) << s.err.toStdString();
    EXPECT_TRUE(s.err.contains("choose device")) << "nothing at all was heard";
}

TEST(Programs, AFileTooLargeToSendIsRefusedBeforeItIsHashed) {
    vq::test::TempDir dir;
    Device device({});
    const std::string huge = dir.file("5GiB.bin");
    std::ofstream(huge).close();
    std::filesystem::resize_file(huge, std::uintmax_t{5} << 30);  // sparse: nothing to read from disk
    QElapsedTimer elapsed;
    elapsed.start();
    const Sent s = send({"--json", "--port", device.path, QString::fromStdString(huge)});
    EXPECT_LT(elapsed.elapsed(), 3000) << "hashing 5 GiB takes far longer";
    EXPECT_EQ(s.exit_code, 1);
    EXPECT_TRUE(s.err.contains("larger than 2 GiB - 1 KiB")) << s.err.toStdString();
    EXPECT_TRUE(s.out.filter("hashing").isEmpty());
}

TEST(Programs, PortsAreNamedByComNumberOrByPath) {
    vq::test::TempDir dir;
    const std::string file = dir.write("fw.bin", pattern(100));
    Device device({});
    const QString env = "VELLQUIN_PORTS=" + device.path;
    EXPECT_EQ(send({"--port", "COM1", QString::fromStdString(file)}, {.env = {env}}).exit_code, 0);
    EXPECT_EQ(send({QString::fromStdString(file)}, {.env = {env}}).exit_code, 0) << "the first port the window lists";

    const Sent missing = send({"--port", "COM2", QString::fromStdString(file)}, {.env = {env}});
    EXPECT_EQ(missing.exit_code, 4);
    EXPECT_EQ(missing.out, QStringList{"Serial port is using!"});
    EXPECT_TRUE(missing.err.contains("COM2 names no serial device")) << missing.err.toStdString();

    const Sent invalid = send({"--port", "COM0", QString::fromStdString(file)}, {.env = {env}});
    EXPECT_EQ(invalid.exit_code, 3);
    EXPECT_EQ(invalid.out, (QStringList{"Invalid Serial Port", "Serial port is invalid!"}));

    const Sent path = send({"--port", "/dev/vq-no-such-port", QString::fromStdString(file)});
    EXPECT_EQ(path.exit_code, 4);
    EXPECT_TRUE(path.err.contains("/dev/vq-no-such-port")) << path.err.toStdString();

    // A path is no COM number, whatever VELLQUIN_PORTS numbers.
    const std::string trace = dir.file("trace.txt");
    send({"--port", device.path, "--trace", QString::fromStdString(trace), QString::fromStdString(file)},
         {.env = {"VELLQUIN_PORTS=/dev/vq-no-such-port"}});
    const auto traced = read_file(trace);
    EXPECT_TRUE(QByteArray(reinterpret_cast<const char*>(traced.data()), traced.size()).contains("\n# port " + device.path.toUtf8() + "\n"));

    const QString link = QString::fromStdString(dir.file("link"));
    ASSERT_EQ(::symlink(device.path.toLocal8Bit().constData(), link.toLocal8Bit().constData()), 0);
    const Sent twice = send({"--port", device.path, "--port", link, QString::fromStdString(file)});
    EXPECT_EQ(twice.exit_code, 2);
    EXPECT_EQ(twice.err, "vellquin-send: --port " + device.path + " and --port " + link + " are the same device (" +
                             device.path + "): give each device once\n");
}

TEST(Programs, EveryProgramTellsItsVersionAndRefusesMalformedArguments) {
    const struct {
        QString program;
        QStringList args;
        int exit_code;
        QStringList out;
    } rows[] = {
        {"vellquin-send", {"--version"}, 0, {"vellquin-send " VQ_VERSION}},
        {"vellquin-device", {"--version"}, 0, {"vellquin-device " VQ_VERSION}},
        {"vellquin-tool", {"--version"}, 0, {"vellquin-tool " VQ_VERSION}},
        {"vellquin-device", {"--nak-block", "abc"}, 2, {}},
        {"vellquin-device", {"--reply-delay", "-5"}, 2, {}},
        {"vellquin-send", {"--port", "COM10", "fw.bin"}, 3, {"Invalid Serial Port", "Serial port is invalid!"}},
    };
    for (const auto& r : rows) {
        const Sent got = send(r.args, {.program = r.program, .env = {"VELLQUIN_PORTS=/dev/vq-no-such-port"}});
        EXPECT_EQ(got.exit_code, r.exit_code) << r.args.join(' ').toStdString() << got.err.toStdString();
        EXPECT_EQ(got.out, r.out) << r.args.join(' ').toStdString();
    }
}

TEST(Programs, EveryWayOfStoppingCancelsReleasesThePortAndEndsWithItsStatus) {
    struct Case {
        const char* name;
        QStringList options;
        std::vector<std::pair<int, int>> signals_at;  // ms after the device's first block, signal
        bool stdout_reader_gone;
        int exit_code;
        QString said, not_said;  // on stderr
    };
    const Case cases[] = {
        {"Ctrl-C", {}, {{300, SIGINT}}, false, 11, "press Ctrl-C again", ""},
        {"SIGTERM", {}, {{300, SIGTERM}}, false, 11, "terminated; stopping", "Ctrl-C"},
        {"--timeout", {"--timeout", "1.5"}, {}, false, 12, "timed out after 1.5 s", ""},
        {"Ctrl-C, the stdout reader gone", {}, {{300, SIGINT}}, true, 11, "stopping", ""},
        {"Ctrl-C twice", {}, {{300, SIGINT}, {330, SIGINT}}, false, 11,
         "interrupted during block 1; the port was closed\n", "disconnected"},
    };
    vq::test::TempDir dir;
    const QString file = QString::fromStdString(dir.write("fw.bin", pattern(5000)));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Device device({"--silent"});
        ::chmod(device.path.toLocal8Bit().constData(), 0666);
        const Sent got = send(QStringList{"--port", device.path} + c.options + QStringList{file},
                              {.signals_at = c.signals_at,
                               .start_signal_clock = [&] { device.wait_for("block 1"); },
                               .stdout_reader_gone = c.stdout_reader_gone, .as_nobody = true});
        EXPECT_FALSE(got.crashed);
        EXPECT_EQ(got.exit_code, c.exit_code) << got.err.toStdString();
        EXPECT_TRUE(got.err.contains(c.said)) << got.err.toStdString();
        if (!c.not_said.isEmpty()) {
            EXPECT_FALSE(got.err.contains(c.not_said)) << got.err.toStdString();
        }
        const Sent listed = send({"--list"}, {.env = {"VELLQUIN_PORTS=" + device.path}, .as_nobody = true});
        EXPECT_TRUE(listed.out.join("").contains(" free")) << "the port is released: " << listed.out.join("").toStdString();
        if (c.signals_at.size() == 1) {
            EXPECT_TRUE(device.log().contains("cancel after")) << "CAN on the wire";
        }
    }
}

TEST(Programs, APortOrAFileTheUserMayNotOpenIsNamedWithItsFix) {
    if (!kRoot) GTEST_SKIP() << "runs the sender as another user, which needs root";
    vq::test::TempDir dir;
    const QString file = QString::fromStdString(dir.write("fw.bin", pattern(100)));
    const QString locked = QString::fromStdString(dir.write("locked.bin", pattern(100)));
    ::chmod(locked.toLocal8Bit().constData(), 0600);
    Device device({});
    // The pty belongs to the user who runs the tests: joining a group would not help.
    const QString not_permitted = device.path + " exists but you may not open it: it belongs to ";
    const struct {
        const char* name;
        mode_t port_mode;
        QStringList args;
        int exit_code;
        QString out, said;
    } rows[] = {
        {"--port COM1", 0600, {"--port", "COM1", file}, 4, "Serial port is using!", not_permitted},
        {"the first port", 0600, {file}, 4, "Serial port is using!", not_permitted},
        {"an unreadable file", 0666, {"--port", "COM1", locked}, 5, "File Not Exisits!",
         "The file cannot be read (permission denied): " + locked},
        // TIOCEXCL holds a port against everyone but root.
        {"a port held with TIOCEXCL", 0666, {"--port", "COM1", file}, 4, "Serial port is using!",
         device.path + ": held by another program"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        ::chmod(device.path.toLocal8Bit().constData(), r.port_mode);
        const int exclusive = r.exit_code == 4 && r.port_mode == 0666 ? ::open(device.path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY) : -1;
        if (exclusive >= 0) ::ioctl(exclusive, TIOCEXCL);
        const Sent got = send(r.args, {.env = {"VELLQUIN_PORTS=" + device.path}, .as_nobody = true});
        if (exclusive >= 0) ::close(exclusive);
        EXPECT_EQ(got.exit_code, r.exit_code) << got.err.toStdString();
        EXPECT_EQ(got.out, QStringList{r.out});
        EXPECT_TRUE(got.err.contains(r.said)) << got.err.toStdString();
    }
}

TEST(Programs, TheWindowSaysWhenThereIsNoDisplayAndIsCaptionedForm1WhenThereIsOne) {
    const Sent none = send({}, {.program = "vellquin-tool", .env = {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="}});
    EXPECT_EQ(none.exit_code, 1);
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
    // The X keyboard library strndup()s a buffer with no NUL at its end:
    // valid C, but AddressSanitizer's strict string checks report it.
    if (env.contains("ASAN_OPTIONS")) env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":strict_string_checks=0");
    tool.setProcessEnvironment(env);
    tool.start(kBin + "/vellquin-tool");
    QString caption;
    for (int i = 0; i < 50 && caption.isEmpty(); ++i) {  // the window manager's view of the caption
        QProcess xprop;
        xprop.start("/usr/bin/xprop", {"-display", display, "-name", "Form1", "_NET_WM_NAME", "WM_CLASS", "_NET_WM_ICON"});
        xprop.waitForFinished(5000);
        if (xprop.exitCode() == 0) caption = QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
        else QThread::msleep(200);
    }
    // The class is the desktop entry's StartupWMClass, which check-install checks.
    EXPECT_TRUE(caption.contains("WM_CLASS(STRING) = \"vellquin-tool\", \"org.vellquin.VellquinTool\"")) << caption.toStdString();
    EXPECT_TRUE(caption.contains("_NET_WM_ICON(CARDINAL) = ")) << "an icon from the build tree";
    caption = caption.section('\n', 0, 0);
    tool.terminate();
    tool.waitForFinished(3000);
    x.terminate();
    x.waitForFinished(3000);
    EXPECT_EQ(caption, "_NET_WM_NAME(UTF8_STRING) = \"Form1\"");
}

// Several devices from one vellquin-device process, one path a line.
QStringList device_paths(QProcess& devices, int count) {
    QStringList paths;
    while (paths.size() < count && devices.waitForReadyRead(5000))
        while (devices.canReadLine()) paths << QString::fromLocal8Bit(devices.readLine()).trimmed();
    return paths;
}

TEST(Programs, EightDevicesAtOnceEndEachOnItsOwnWithJsonLinesAndLogs) {
    vq::test::TempDir dir;
    const QString file = QString::fromStdString(dir.write("fw.bin", pattern(5000)));
    const QString logs = QString::fromStdString(dir.file("logs"));
    QProcess devices;
    devices.start(kBin + "/vellquin-device", {"-q", "--count", "8", "--fault", "3:silent", "--fault", "6:cancel-at=2"});
    const QStringList paths = device_paths(devices, 8);
    ASSERT_EQ(paths.size(), 8);
    QStringList args{"--pace", "reply", "--timeout", "3", "--json", "--log", logs, file};
    for (const QString& p : paths) args = QStringList{"--port", p} + args;  // given in reverse order

    const Sent s = send(args);
    devices.terminate();
    devices.waitForFinished(3000);
    std::map<QString, QJsonObject> ends;
    QJsonObject summary;
    for (const QString& line : s.out) {
        const QJsonDocument json = QJsonDocument::fromJson(line.toUtf8());
        ASSERT_TRUE(json.isObject()) << "not JSON: " << line.toStdString();
        ASSERT_TRUE(json.object().contains("port") && json.object().contains("event")) << line.toStdString();
        if (json["event"] == "end") ends[json["port"].toString()] = json.object();
        if (json["event"] == "summary") summary = json.object();
    }
    ASSERT_EQ(ends.size(), 8u);
    for (int k = 1; k <= 8; ++k) {
        const QString expected = k == 3 ? "stopped" : k == 6 ? "cancelled" : "finished";
        EXPECT_EQ(ends[paths[k - 1]]["outcome"].toString(), expected) << k;
    }
    EXPECT_TRUE(ends[paths[2]]["timed_out"].toBool());
    EXPECT_LT(ends[paths[2]]["bytes"].toInt(), ends[paths[2]]["file_bytes"].toInt()) << "what the device acknowledged";
    EXPECT_EQ(summary["finished"].toInt(), 6);
    EXPECT_EQ(summary["failed_ports"].toArray(), (QJsonArray{paths[5], paths[2]})) << "in the order given";
    EXPECT_EQ(s.exit_code, 8) << "the first port given that failed: device 6, cancelled";
    EXPECT_EQ(QJsonDocument::fromJson(s.out.back().toUtf8())["event"], "summary") << "the summary comes last";

    const QStringList logged = QDir(logs).entryList({"*.log"});
    EXPECT_EQ(logged.filter("_finished.log").size(), 6) << logged.join(' ').toStdString();
    EXPECT_EQ(logged.filter("_cancelled.log").size(), 1);
    EXPECT_EQ(logged.filter("_timed_out.log").size(), 1);
    QFile csv(logs + "/summary.csv");
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QStringList rows = QString::fromUtf8(csv.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), 9);
    EXPECT_EQ(rows[0], "time,port,device,identity,file,sha256,bytes,outcome,seconds,tty,file_bytes");
    EXPECT_EQ(rows.filter(",timed_out,").size(), 1);
}

TEST(Programs, RepeatFlashesEachDevicePluggedIntoTheJigUntilTheCount) {
    vq::test::TempDir dir;
    const QString file = QString::fromStdString(dir.write("fw.bin", pattern(3000)));
    const QString jig = QString::fromStdString(dir.file("jig"));
    const QString logs = QString::fromStdString(dir.file("logs"));
    QProcess sender;
    sender.start(kBin + "/vellquin-send",
                 {"--repeat", "--count", "2", "--port", jig, "--pace", "reply", "--json", "--log", logs, file});
    QString err = stderr_until(sender, "waiting for a device");  // the devices come once it waits for them
    QProcess first, second;
    first.start(kBin + "/vellquin-device", {"-q", "--link", jig, "--unplug-after", "1.5"});
    ASSERT_TRUE(first.waitForFinished(5000));  // plugged in, flashed, pulled out
    second.start(kBin + "/vellquin-device", {"-q", "--link", jig});
    ASSERT_TRUE(sender.waitForFinished(15000));
    second.terminate();
    second.waitForFinished(3000);
    const QStringList lines = QString::fromUtf8(sender.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(lines.filter("\"event\":\"end\",\"outcome\":\"finished\"").size(), 2) << lines.join('\n').toStdString();
    EXPECT_EQ(sender.exitCode(), 0);

    // Each wait is said once, on stderr and as a JSON event.
    err += QString::fromUtf8(sender.readAllStandardError());
    const QString device_wait = "waiting for a device on " + jig;
    EXPECT_GE(err.count(device_wait), 1) << err.toStdString();
    EXPECT_EQ(lines.filter("\"for\":\"device\",\"text\":\"" + device_wait + "\"").size(), err.count(device_wait));
    EXPECT_EQ(err.count("waiting for the device to be taken away"), 1) << "the first board stays 1.5 s";
    EXPECT_EQ(lines.filter("\"for\":\"removal\"").size(), 1);

    const auto csv = read_file(logs.toStdString() + "/summary.csv");  // the link as given and the tty it led to
    const QString row = QString::fromUtf8(reinterpret_cast<const char*>(csv.data()), csv.size()).section('\n', 1, 1);
    EXPECT_TRUE(row.section(',', 2, 2) == jig && row.section(',', 9, 9).startsWith("/dev/pts/")) << row.toStdString();
}

// A station at the terminal: the board waits for its serial, typed (or
// scanned) on stdin; one that is no serial of the recipe is refused.
TEST(Programs, ARecipesStationAtTheTerminalSendsTheBoardAsTheSerialTypedForIt) {
    vq::test::TempDir dir;
    const auto image = pattern(3000);
    dir.write("fw.bin", image);
    const std::string jig = dir.file("jig"), records = dir.file("records.sqlite");
    std::ofstream(dir.file("board.toml")) << "name = \"Board X\"\nimage = \"fw.bin\"\nsha256 = \"" << vq::records::sha256_hex(image)
                                          << "\"\nrecords = \"sqlite:" << records << "\"\nstart = \"on-scan\"\n"
                                          << "unit_serial = { mode = \"scan\", unit_pattern = \"VQ-[0-9]{4}\" }\n"
                                          << "[[slot]]\nname = \"A\"\nport = \"" << jig << "\"\n";
    QProcess device, station;
    device.start(kBin + "/vellquin-device", {"-q", "--link", QString::fromStdString(jig)});
    station.start(kBin + "/vellquin-send", {"--recipe", QString::fromStdString(dir.file("board.toml")), "--count", "1"});
    QString err = stderr_until(station, "scan the unit's serial");
    station.write("VQ-1\nVQ-0001\n");
    ASSERT_TRUE(station.waitForFinished(15000)) << err.toStdString();
    device.terminate();
    device.waitForFinished(3000);
    err += QString::fromUtf8(station.readAllStandardError());
    EXPECT_EQ(station.exitCode(), 0) << err.toStdString();
    EXPECT_TRUE(err.contains("\u201CVQ-1\u201D is no serial of this recipe (VQ-[0-9]{4}): nothing started")) << err.toStdString();
    const auto kept = vq::records::list(*vq::records::open_sqlite_store(records, false), {});
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].unit + " " + kept[0].outcome, "VQ-0001 finished");
}

// A station from a recipe: each board plugged into the slot gets the next
// serial stamped into its image, and its record names the slot and the unit.
TEST(Programs, ARecipesStationStampsEachBoardWithTheNextSerialAndRecordsIt) {
    vq::test::TempDir dir;
    const auto image = pattern(3000);
    dir.write("fw.bin", image);
    const std::string jig = dir.file("jig"), records = dir.file("records.sqlite");
    {
        std::ofstream recipe(dir.file("board.toml"));
        recipe << "name = \"Board X\"\nimage = \"fw.bin\"\nsha256 = \"" << vq::records::sha256_hex(image)
               << "\"\nrecords = \"sqlite:" << records << "\"\n[unit_serial]\nmode = \"stamp\"\noffset = 1020\n"
               << "format = \"VQ-{:06d}\"\nwidth = 12\nfirst = 7\n[[slot]]\nname = \"A\"\nport = \"" << jig << "\"\n";
    }
    QProcess station;
    station.start(kBin + "/vellquin-send", {"--recipe", QString::fromStdString(dir.file("board.toml")), "--count", "2"});
    QString err = stderr_until(station, "waiting for a device");
    QProcess first, second;
    first.start(kBin + "/vellquin-device",
                {"-q", "--link", QString::fromStdString(jig), "--unplug-after", "1.5", "--out", QString::fromStdString(dir.file("1.bin"))});
    ASSERT_TRUE(first.waitForFinished(5000));
    second.start(kBin + "/vellquin-device", {"-q", "--link", QString::fromStdString(jig), "--out", QString::fromStdString(dir.file("2.bin"))});
    ASSERT_TRUE(station.waitForFinished(15000));
    second.terminate();
    second.waitForFinished(3000);
    EXPECT_EQ(station.exitCode(), 0) << err.toStdString();
    for (const auto& [board, serial] : {std::pair{"1.bin", "VQ-000007"}, std::pair{"2.bin", "VQ-000008"}}) {
        auto expected = image;
        std::fill(expected.begin() + 1020, expected.begin() + 1032, std::uint8_t{0});
        std::copy(serial, serial + 9, expected.begin() + 1020);  // across the edge of the first block
        const auto got = read_file(dir.file(board));
        EXPECT_TRUE(got.size() >= image.size() && std::equal(expected.begin(), expected.end(), got.begin())) << board;
    }
    const auto kept = vq::records::list(*vq::records::open_sqlite_store(records, false), {});
    std::multiset<std::string> units;  // each upload's record made at its start, replaced at its end
    for (const auto& r : kept) units.insert(r.unit + " in " + r.slot + ": " + r.outcome);
    EXPECT_EQ(units, (std::multiset<std::string>{"VQ-000007 in A: finished", "VQ-000008 in A: finished"}));
    EXPECT_EQ(read_file(dir.file("fw.bin")), image) << "the file itself is never changed";
}

}  // namespace
