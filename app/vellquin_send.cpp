// vellquin-send: the window's upload, from the command line.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "link/discovery.h"
#include "link/event_clock.h"
#include "link/port_map.h"
#include "link/port_opening.h"
#include "link/qt_serial_link.h"
#include "protocol/failure.h"
#include "protocol/host.h"
#include "protocol/image_file.h"
#include "protocol/report.h"
#include "protocol/transfer_stats.h"
#include "protocol/upload.h"

namespace {

using namespace vq;

// What the window shows in a message box goes to stdout, one line each,
// after ending the progress line.
class PrintedMessages final : public MessageBox {
public:
    std::function<void()> before;
    void show(const std::string& text) override {
        if (before) before();
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
    }
};

// The sender has no bar or percentage box of its own; progress is printed
// by ProgressPrinter from what the upload reports.
class NoDisplays final : public Displays {
public:
    void set_progress(float) override {}
    void set_percent_text(const std::string&) override {}
};

// On a terminal: one line, redrawn at most ten times a second, with the
// bar, the percentage, the block, the speed and the time left. Elsewhere:
// "NN%" on a line of its own each time the window would show a percentage.
class ProgressPrinter final : public UploadObserver {
public:
    ProgressPrinter(const TransferStats& stats, bool terminal) : stats_(stats), terminal_(terminal) {}
    ~ProgressPrinter() override { finish(); }

    void on_phase(Phase, int) override { draw(false); }
    void on_progress(int percent) override {
        if (!terminal_) {
            std::printf("%d%%\n", percent);
            std::fflush(stdout);
            return;
        }
        draw(percent == 100);
    }
    void finish() {
        if (drawn_) std::fputs("\n", stdout);
        drawn_ = false;
        std::fflush(stdout);
    }

private:
    void draw(bool force) {
        if (!terminal_) return;
        const auto now = std::chrono::steady_clock::now();
        if (!force && drawn_ && now - last_ < std::chrono::milliseconds(100)) return;
        last_ = now;
        // The bar and percentage, then the status line's own words: the
        // phase, or the block with speed and time left.
        std::string line;
        if (stats_.block_index() >= 0) {
            const int p = stats_.percent();
            const auto filled = static_cast<std::size_t>(p * 30 / 100);
            char percent[16];
            std::snprintf(percent, sizeof percent, "] %3d%%  ", p);
            line = "[" + std::string(filled, '#') + std::string(30 - filled, '.') + percent;
        }
        line += describe_progress(stats_);
        std::printf("\r%s\033[K", line.c_str());
        std::fflush(stdout);
        drawn_ = true;
    }

    const TransferStats& stats_;
    bool terminal_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point last_{};
};

// --trace: a timestamped line for every transmission and every reply read.
class TraceWriter final : public UploadObserver {
public:
    explicit TraceWriter(std::FILE* file) : file_(file) {}
    ~TraceWriter() override { std::fclose(file_); }
    void on_transmission(Transmission kind, std::span<const std::uint8_t, kFrameSize> f, double time) override {
        char text[96];
        switch (kind) {
        case Transmission::WakeUp: std::snprintf(text, sizeof text, "send wake-up"); break;
        case Transmission::Data:
            std::snprintf(text, sizeof text, "send block number %u crc 0x%02X%02X", f[1], f[1027], f[1028]);
            break;
        case Transmission::Cancel: std::snprintf(text, sizeof text, "send CAN"); break;
        case Transmission::EndOfTransmission: std::snprintf(text, sizeof text, "send EOT"); break;
        }
        line(time, text);
    }
    void on_reply(const Reply& r, double time) override {
        static const char* codes[] = {"start request", "ACK", "NAK", "CAN", "no usable answer"};
        char text[96];
        if (r.byte)
            std::snprintf(text, sizeof text, "read 0x%02X %s", *r.byte, codes[r.code]);
        else
            std::snprintf(text, sizeof text, "read nothing");
        line(time, text);
    }

private:
    void line(double time, const std::string& text) {
        if (!start_) start_ = time;
        std::fprintf(file_, "%10.6f %s\n", time - *start_, text.c_str());
        std::fflush(file_);
    }
    std::FILE* file_;
    std::optional<double> start_;
};

#ifndef _WIN32
// Ctrl-C reaches the event loop through a pipe: the first raises the stop
// request, the second closes the port and ends at once.
int g_signal_pipe[2] = {-1, -1};
void on_sigint(int) {
    const char byte = 1;
    const auto written = ::write(g_signal_pipe[1], &byte, 1);
    (void)written;
}
#endif

// COM and one digit is a choice as the window's port list holds it (COM0
// included, which names no port); anything else is a device path.
bool is_com_name(const QString& port) {
    return port.size() == 4 && port.startsWith(QStringLiteral("COM"), Qt::CaseInsensitive) && port[3].isDigit();
}

int list_ports(const PortMap& ports) {
    if (ports.size() == 0) {
        std::printf("no serial ports found\n");
        return exit_code::kFinished;
    }
    QtSerialLink link(ports);
    for (int n = 1; n <= ports.size(); ++n) {
        const PortEntry* e = ports.entry(n);
        std::string state = "free";
        try {
            link.setCommPort(static_cast<std::int16_t>(n));
            link.setPortOpen(true);
            link.setPortOpen(false);
        } catch (const Failure& f) {
            if (f.number() == err::PortAlreadyOpen)
                state = "busy (held by another program)";
            else if (f.number() == err::PermissionDenied)
                state = "not permitted: " + access_problem(e->device);
            else
                state = std::string("cannot open: ") + f.what();
        }
        const std::string name = n <= 9 ? "COM" + std::to_string(n) : "(COM" + std::to_string(n) + ")";
        std::printf("%-7s %-20s %s%s\n", name.c_str(), e->device.c_str(), state.c_str(),
                    e->description.empty() ? "" : ("  " + e->description).c_str());
    }
    return exit_code::kFinished;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vellquin-send"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Sends a firmware image to a device over a serial port, exactly as the Vellquin Tool window does.\n"
        "\n"
        "Outcome lines on stdout: \"Sending Finished!\", \"Sending Cancelled!\", \"Sending Request is Rejected\",\n"
        "\"Sending Finised!\" (stopped with Ctrl-C), \"Serial port is invalid!\", \"Serial port is using!\",\n"
        "\"File Not Exisits!\". Endings without such a line are explained on stderr.\n"
        "\n"
        "Progress: a redrawn bar on a terminal; otherwise one \"NN%\" line per block.\n"
        "Ctrl-C cancels the transfer (CAN to the device); a second Ctrl-C quits at once.\n"
        "\n"
        "Exit status: 0 finished, 1 other failure, 2 bad arguments, 3 invalid port, 4 port busy or\n"
        "failed to open, 5 file missing, 6 file empty, 7 rejected by the device, 8 cancelled by the\n"
        "device, 9 gave up after 10 NAKs, 10 end of transmission not acknowledged, 11 stopped by the user.\n"
        "\n"
        "COM1..COM9 are numbered as in the window.\n"
        "\n"
        "Environment:\n"
        "  VELLQUIN_PORTS  names the ports explicitly, for this program and the window alike:\n"
        "                  devices separated by ':' or ';' (ptys, /dev/serial/by-id paths); COM1 is the\n"
        "                  first one named. Empty entries are ignored; with none, the system's list is used."));
    parser.addHelpOption();
    const QCommandLineOption port_option(QStringList{"p", "port"},
                                         "COM1..COM9, numbered as in the window, or a device path "
                                         "(/dev/ttyUSB0, /dev/pts/7). Default: the first port the window lists.",
                                         "PORT");
    const QCommandLineOption list_option(QStringList{"l", "list"},
                                         "List each COM number with its device and whether it is free, busy "
                                         "or not permitted, then exit.");
    const QCommandLineOption trace_option(QStringList{"t", "trace"},
                                          "Write a timestamped line for every transmission and reply to FILE.",
                                          "FILE");
    parser.addOptions({port_option, list_option, trace_option});
    parser.addPositionalArgument("FILE", "The image to send.");
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "vellquin-send: %s\n", qPrintable(parser.errorText()));
        return exit_code::kUsage;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        std::printf("%s", qPrintable(parser.helpText()));
        return exit_code::kFinished;
    }

    if (parser.isSet(list_option)) return list_ports(PortMap::from_environment_or_system());
    if (parser.positionalArguments().size() != 1) {
        std::fprintf(stderr, "vellquin-send: give exactly one FILE (see --help)\n");
        return exit_code::kUsage;
    }
    const std::string file = parser.positionalArguments().front().toStdString();

    // The port: a COM name as the window numbers them, a device path, or
    // the first port the window would list.
    PortMap ports;
    std::string choice;
    const QString port = parser.value(port_option);
    if (port.isEmpty() || is_com_name(port)) {
        ports = PortMap::from_environment_or_system();
        if (port.isEmpty()) {
            QtSerialLink probe(ports);
            MemoryPortList list;
            discover_ports(probe, list);
            choice = list.text();
        } else {
            choice = port.toUpper().toStdString();
        }
    } else {
        ports = PortMap(std::vector<PortEntry>{{port.toStdString(), "given on the command line"}});
        choice = "COM1";
    }

    std::unique_ptr<TraceWriter> trace;
    if (parser.isSet(trace_option)) {
        std::FILE* f = std::fopen(parser.value(trace_option).toLocal8Bit().constData(), "w");
        if (!f) {
            std::fprintf(stderr, "vellquin-send: cannot write the trace file %s\n", qPrintable(parser.value(trace_option)));
            return exit_code::kUsage;
        }
        trace = std::make_unique<TraceWriter>(f);
    }

    QtSerialLink link(ports);
    EventClock clock;
    NoDisplays displays;
    PrintedMessages messages;
    LocalFileSystem files;
    FormState form;
    TransferStats stats;
#ifdef _WIN32
    const bool terminal = false;
#else
    const bool terminal = ::isatty(STDOUT_FILENO) != 0;
#endif
    ProgressPrinter progress(stats, terminal);
    messages.before = [&] { progress.finish(); };
    ObserverList observers;
    observers.add(&stats);
    observers.add(&progress);
    if (trace) observers.add(trace.get());

    bool running = false;
    int interrupts = 0;
#ifndef _WIN32
    std::unique_ptr<QSocketNotifier> notifier;
    if (::pipe(g_signal_pipe) == 0) {
        notifier = std::make_unique<QSocketNotifier>(g_signal_pipe[0], QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, [&] {
            char byte;
            const auto got = ::read(g_signal_pipe[0], &byte, 1);
            (void)got;
            if (++interrupts == 1 && running) {
                progress.finish();
                std::fprintf(stderr, "vellquin-send: stopping; press Ctrl-C again to quit at once\n");
                form.stop_request = 1;
                return;
            }
            progress.finish();
            try {
                link.setPortOpen(false);
            } catch (const std::exception&) {
            }
            std::fprintf(stderr, "vellquin-send: interrupted\n");
            std::fflush(stdout);
            ::_exit(exit_code::kStopped);
        });
        std::signal(SIGINT, on_sigint);
        std::signal(SIGTERM, on_sigint);
    }
#endif

    std::string port_cause;
    const UploadContext context{link,
                                clock,
                                displays,
                                messages,
                                files,
                                form,
                                [&] { return init_serial_port(choice, link, messages, &port_cause); },
                                &observers};
    running = true;
    const UploadResult result = run_upload(context, file, file);
    running = false;
    progress.finish();

    switch (result.end) {
    case UploadEnd::InvalidPort:
        std::fprintf(stderr, "vellquin-send: %s\n",
                     choice.empty() ? "no serial port found" : ("'" + choice + "' names no port 1 to 9").c_str());
        break;
    case UploadEnd::PortUnavailable:
    case UploadEnd::FileNotFound:
        std::fprintf(stderr, "vellquin-send: %s\n", describe_end(result, port_cause).c_str());
        break;
    default:
        if (is_silent(result.end)) std::fprintf(stderr, "vellquin-send: %s\n", describe_end(result).c_str());
        break;
    }
    return exit_code_for(result);
}
