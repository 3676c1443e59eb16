#include "cli/send_options.h"

#include <QCommandLineParser>
#include <cmath>

#include "link/port_map.h"

namespace vq::cli {
namespace {

const char* kDescription =
    "Sends a firmware image to a device over a serial port, exactly as the Vellquin Tool window does.\n"
    "\n"
    "Outcome lines on stdout: \"Sending Finished!\", \"Sending Cancelled!\", \"Sending Request is Rejected\",\n"
    "\"Sending Finised!\" (stopped), \"Invalid Serial Port\" and \"Serial port is invalid!\", \"Serial port is\n"
    "using!\", \"File Not Exisits!\". Endings without such a line are explained on stderr.\n"
    "\n"
    "Progress: a redrawn bar on a terminal; otherwise one \"NN%\" line per block.\n"
    "Ctrl-C (or SIGTERM) cancels the transfer with CAN to the device; a second one quits at once.\n"
    "A device that stays silent keeps the sender waiting until then, or until --timeout runs out.\n"
    "\n"
    "Exit status: 0 finished, 1 other failure, 2 bad arguments, 3 invalid port, 4 port busy, not\n"
    "permitted or failed to open, 5 file missing or unreadable, 6 file empty, 7 rejected by the device,\n"
    "8 cancelled by the device, 9 gave up after 10 NAKs, 10 end of transmission not acknowledged,\n"
    "11 stopped by Ctrl-C or SIGTERM, 12 stopped by --timeout.\n"
    "\n"
    "COM1..COM9 are numbered as in the window.\n"
    "\n";

struct Parser {
    Parser() {
        parser.setApplicationDescription(QString::fromLatin1(kDescription) +
                                         QString::fromLatin1(kPortsEnvironmentHelp));
        parser.addOptions({help, version, port, all, list, trace, timeout, pace, json, log, repeat, count});
        parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The image to send."));
    }
    QCommandLineParser parser;
    const QCommandLineOption help{QStringList{"h", "help"}, "Show this help and exit."};
    const QCommandLineOption version{QStringList{"v", "version"}, "Show the version and exit."};
    const QCommandLineOption port{QStringList{"p", "port"},
                                  "COM1..COM9, numbered as in the window, or a device path (/dev/ttyUSB0, "
                                  "/dev/serial/by-id/..., any link to a tty). Give it several times to send to "
                                  "several devices at once. Default: the first port the window lists.",
                                  "PORT"};
    const QCommandLineOption all{QStringList{"all"}, "Send to every port the window lists, all at once."};
    const QCommandLineOption json{QStringList{"json"},
                                  "Print JSON Lines on stdout, one object per event (start, phase, progress, "
                                  "pacing, end, and a last summary), and nothing else there."};
    const QCommandLineOption log{QStringList{"log"},
                                 "Write a log of every upload into DIR (its trace, after the tool's version, the "
                                 "file with its SHA-256, the device and its USB identity), and a line into "
                                 "DIR/summary.csv.",
                                 "DIR"};
    const QCommandLineOption repeat{QStringList{"repeat"},
                                    "For a fixed jig: on each port, wait until a device is there, send, wait "
                                    "until it is gone, and again, until Ctrl-C or --count."};
    const QCommandLineOption count{QStringList{"count"}, "With --repeat: stop after N uploads on each port.", "N"};
    const QCommandLineOption list{QStringList{"l", "list"},
                                  "List each COM number with its device and whether it is free, busy or "
                                  "not permitted, then exit."};
    const QCommandLineOption trace{QStringList{"t", "trace"},
                                   "Write every transmission and reply with its time to FILE, after a header "
                                   "that names the port and the file, and end it with the outcome.",
                                   "FILE"};
    const QCommandLineOption timeout{QStringList{"timeout"},
                                     "Stop the upload after SECONDS as Ctrl-C does, with CAN to the device; "
                                     "the exit status is then 12. Reading and hashing the file count too.",
                                     "SECONDS"};
    const QCommandLineOption pace{QStringList{"pace"},
                                  "fixed (the default): read each answer after the fixed wait devices are built "
                                  "against. reply: read each answer as soon as it arrives, up to twice as fast on a "
                                  "real line; a missed answer, or a block refused twice in a row, goes back to fixed.",
                                  "fixed|reply", "fixed"};
};

}  // namespace

ParsedSendOptions parse_send_options(const QStringList& arguments) {
    Parser p;
    ParsedSendOptions parsed;
    SendOptions& o = parsed.options;
    if (!p.parser.parse(arguments)) {
        parsed.error = p.parser.errorText().toStdString();
        // "-dash.bin" reads as the options -d -a -s ...: most likely a file.
        for (const QString& a : arguments.mid(1)) {
            if (a == QLatin1String("--")) break;
            if (a.size() > 2 && a.startsWith(QLatin1Char('-')) && !a.startsWith(QLatin1String("--")) &&
                p.parser.unknownOptionNames().contains(a.mid(1, 1))) {
                parsed.error = "unknown option '" + a.toStdString() +
                               "'; a file whose name starts with \"-\" is written after -- (vellquin-send -- " +
                               a.toStdString() + ") or as ./" + a.toStdString();
                break;
            }
        }
        return parsed;
    }
    o.help = p.parser.isSet(p.help);
    o.version = p.parser.isSet(p.version);
    o.list = p.parser.isSet(p.list);
    if (o.help || o.version) return parsed;

    for (const QString& port : p.parser.values(p.port)) {
        o.ports.push_back(port.trimmed().toStdString());
        if (o.ports.back().empty()) parsed.error = "--port needs a COM name or a device path";
    }
    o.all = p.parser.isSet(p.all);
    if (o.all && !o.ports.empty()) parsed.error = "give --port or --all, not both";
    o.trace = p.parser.value(p.trace).toStdString();
    if (!o.trace.empty() && (o.all || o.ports.size() > 1)) parsed.error = "--trace is for one port; use --log DIR";
    o.json = p.parser.isSet(p.json);
    o.log_dir = p.parser.value(p.log).toStdString();
    o.repeat = p.parser.isSet(p.repeat);
    if (p.parser.isSet(p.count)) {
        bool number = false;
        o.count = p.parser.value(p.count).toInt(&number);
        if (!number || o.count < 1 || !o.repeat) parsed.error = "--count needs --repeat and a number of uploads above 0";
    }
    if (p.parser.isSet(p.timeout)) {
        bool number = false;
        const double seconds = p.parser.value(p.timeout).toDouble(&number);
        if (!number || !std::isfinite(seconds) || seconds <= 0 || seconds > 1e6)
            parsed.error = "--timeout needs a number of seconds above 0";
        o.timeout = seconds;
    }
    const QString pace = p.parser.value(p.pace);
    if (pace == QLatin1String(pace_word(Pace::Reply))) o.pace = Pace::Reply;
    else if (pace != QLatin1String(pace_word(Pace::Fixed))) parsed.error = "--pace is fixed or reply";
    const QStringList files = p.parser.positionalArguments();
    if (files.size() == 1) o.file = files.front().toStdString();
    if (parsed.error.empty() && !o.list && files.size() != 1) parsed.error = "give exactly one FILE (see --help)";
    return parsed;
}

QString send_help() { return Parser().parser.helpText(); }

}  // namespace vq::cli
