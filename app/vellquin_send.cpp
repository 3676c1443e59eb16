// vellquin-send: the window's upload, from the command line.

#include <QCoreApplication>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#ifndef _WIN32
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include "cli/interrupts.h"
#include "cli/progress_printer.h"
#include "cli/send_options.h"
#include "cli/send_ports.h"
#include "cli/trace_writer.h"
#include "link/event_clock.h"
#include "link/port_opening.h"
#include "link/qt_serial_link.h"
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
    explicit PrintedMessages(cli::ProgressPrinter& progress) : progress_(progress) {}
    void show(const std::string& text) override {
        progress_.finish();
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
    }

private:
    cli::ProgressPrinter& progress_;
};

// The sender has no bar or percentage box of its own; progress is printed
// from what the upload reports.
class NoDisplays final : public Displays {
public:
    void set_progress(float) override {}
    void set_percent_text(const std::string&) override {}
};

// The terminal's width when stdout is one; null otherwise.
std::function<int()> terminal_columns() {
#ifdef _WIN32
    return nullptr;
#else
    if (!::isatty(STDOUT_FILENO)) return nullptr;
    return [] {
        winsize size{};
        return ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
    };
#endif
}

std::int64_t size_of(const std::string& file) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path_from_utf8(file), ec);
    return ec ? -1 : static_cast<std::int64_t>(size);
}

void say(const std::string& line) { std::fprintf(stderr, "vellquin-send: %s\n", line.c_str()); }

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vellquin-send"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VQ_VERSION));

    const cli::ParsedSendOptions parsed = cli::parse_send_options(QCoreApplication::arguments());
    const cli::SendOptions& options = parsed.options;
    if (!parsed.error.empty()) {
        say(parsed.error);
        return exit_code::kUsage;
    }
    if (options.help) {
        std::printf("%s", qPrintable(cli::send_help()));
        return exit_code::kFinished;
    }
    if (options.version) {
        std::printf("vellquin-send %s\n", VQ_VERSION);
        return exit_code::kFinished;
    }
    if (options.list) {
        for (const std::string& line : cli::describe_ports(PortMap::from_environment_or_system()))
            std::printf("%s\n", line.c_str());
        return exit_code::kFinished;
    }

    const cli::ChosenPort port = cli::choose_port(options.port);
    const PortEntry* entry = port.ports.entry(port_number_of(port.choice));
    std::unique_ptr<cli::TraceWriter> trace;
    if (!options.trace.empty()) {
        std::FILE* f = std::fopen(options.trace.c_str(), "w");
        if (!f) {
            say("cannot write the trace file " + options.trace);
            return exit_code::kUsage;
        }
        trace = std::make_unique<cli::TraceWriter>(
            f, cli::TraceHeader{"vellquin-send " VQ_VERSION, port.choice, entry ? entry->device : std::string(),
                                options.file, size_of(options.file)});
    }

    QtSerialLink link(port.ports);
    EventClock clock;
    NoDisplays displays;
    LocalFileSystem files;
    FormState form;
    TransferStats stats;
    cli::ProgressPrinter progress(stats, stdout, terminal_columns());
    PrintedMessages messages(progress);
    ObserverList observers;
    observers.add(&stats);
    observers.add(&progress);
    if (trace) observers.add(trace.get());

    // The first Ctrl-C or SIGTERM stops the upload as the window's Stop
    // button does; a second one closes the port and quits at once.
    bool running = false;
    int interrupts = 0;
    cli::Interrupts on_interrupt([&](int signo) {
        progress.finish();
        if (++interrupts == 1 && running) {
            say(signo == SIGINT ? "stopping; press Ctrl-C again to quit at once" : "terminated; stopping the upload");
            form.stop_request = 1;
            return;
        }
        try {
            link.setPortOpen(false);
        } catch (const std::exception&) {
        }
        say("interrupted");
        std::fflush(stdout);
        std::_Exit(exit_code::kStopped);
    });

    bool timed_out = false;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, [&] {
        timed_out = true;
        progress.finish();
        say("timed out after " + QString::number(*options.timeout).toStdString() + " s; stopping the upload");
        form.stop_request = 1;
    });
    if (options.timeout) deadline.start(static_cast<int>(*options.timeout * 1000.0));

    std::string port_cause;
    const UploadContext context{link,
                                clock,
                                displays,
                                messages,
                                files,
                                form,
                                [&] { return init_serial_port(port.choice, link, messages, &port_cause); },
                                &observers,
                                options.pace};
    running = true;
    const UploadResult result = run_upload(context, options.file, options.file);
    running = false;
    deadline.stop();
    progress.finish();

    int status = exit_code_for(result);
    if (timed_out && status == exit_code::kStopped) status = exit_code::kTimedOut;
    const std::string ending = result.end == UploadEnd::InvalidPort && port.choice.empty()
                                   ? "no serial port found"
                               : result.end == UploadEnd::InvalidPort
                                   ? "'" + port.choice + "' names no port 1 to 9"
                                   : describe_end(result, port_cause);
    // The endings without a message line, and those whose message says too
    // little to act on, are put in plain words on stderr.
    if (is_silent(result.end) || result.end == UploadEnd::InvalidPort || result.end == UploadEnd::PortUnavailable ||
        result.end == UploadEnd::FileNotFound)
        say(ending);
    if (trace) trace->finish(result, ending, status);
    return status;
}
