#include "cli/runner.h"

#include <csignal>
#include <cstdlib>
#include <memory>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include "cli/console_bridge.h"
#include "cli/interrupts.h"
#include "cli/line_reader.h"
#include "cli/main_loop.h"
#include "cli/outputs.h"
#include "cli/port_worker.h"
#include "protocol/report.h"

namespace vq::cli {
namespace {

// The terminal's width when stdout is one; null otherwise. A Windows
// console is asked to take the terminal sequences the table redraws with.
std::function<int()> terminal_columns() {
#ifdef _WIN32
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(out, &mode) || !SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) return nullptr;
    return [out] {
        CONSOLE_SCREEN_BUFFER_INFO info{};
        return GetConsoleScreenBufferInfo(out, &info) ? info.srWindow.Right - info.srWindow.Left + 1 : 80;
    };
#else
    if (!::isatty(STDOUT_FILENO)) return nullptr;
    return [] {
        winsize size{};
        return ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
    };
#endif
}

// The port the upload left open, joined to the terminal until Ctrl-].
void join_console(std::unique_ptr<SystemSerialLink> link, const std::string& port, Interrupts& interrupts) {
    if (!link) {
        say("", "no console: the port is not open");
        return;
    }
    say("", "console on " + port + "; Ctrl-] leaves");
    std::fflush(stdout);
    BridgeEnding ending{BridgeEnding::Left, {}};
    {
        const std::unique_ptr<Terminal> terminal = open_terminal();
        ending = bridge_console(*link, [&link] { return link->handle(); }, *terminal, interrupts.handle(),
                                [&interrupts] { return interrupts.take() != 0; });
    }
    std::fputs("\r\n", stdout);  // the board's last line may be a prompt
    std::fflush(stdout);
    say("", ending.kind == BridgeEnding::Left      ? "left the console"
            : ending.kind == BridgeEnding::Stopped ? "console stopped"
                                                   : "the console's port failed: " + ending.words);
}

}  // namespace

int run_ports(const std::vector<PortTarget>& targets, const RunSettings& settings, Output output,
              const TypedLines& typed_lines) {
    const bool several = targets.size() > 1;
    const auto columns = terminal_columns();
    PortTable table(columns);
    MainLoop loop;
    std::vector<std::unique_ptr<PortRun>> runs;
    std::vector<std::unique_ptr<PortOutput>> outputs;
    SinglePortLines* single = nullptr;

    for (const PortTarget& target : targets) {
        auto run = std::make_unique<PortRun>(target, settings, [&loop] { loop.wake(); });
        auto add = [&](std::unique_ptr<PortOutput> o) {
            run->add_output(o.get());
            outputs.push_back(std::move(o));
        };
        if (runs.size() < typed_lines.first.size()) run->add_output(typed_lines.first[runs.size()]);
        const std::string prefix = several ? target.name : std::string();
        if (output == Output::Json) {
            add(std::make_unique<JsonEvents>(target.name, settings.file, run->stats()));
            add(std::make_unique<EndingLines>(prefix));
        } else if (!several) {
            auto lines = std::make_unique<SinglePortLines>(run->stats(), columns, settings.console);
            single = lines.get();
            add(std::move(lines));
        } else if (columns) {
            add(table.row(target.name, run->stats()));
            add(std::make_unique<EndingLines>(prefix, table.held_lines()));
        } else {
            add(std::make_unique<PrefixedLines>(target.name));
        }
        if (!settings.log_dir.empty()) add(std::make_unique<SummaryCsv>(settings.log_dir, target.name, settings.file));
        runs.push_back(std::move(run));
    }

    const auto all_finished = [&] {
        for (const auto& run : runs)
            if (!run->finished()) return false;
        return true;
    };
    const bool tabled = output == Output::Plain && several && columns;
    std::unique_ptr<LineReader> typing;
    if (typed_lines.typed) typing = std::make_unique<LineReader>([&loop] { loop.wake(); });
    const auto deliver = [&] {
        for (const auto& run : runs) run->deliver();
        if (typing)
            for (const std::string& line : typing->take())
                if (const std::string answer = typed_lines.typed(line); !answer.empty()) {
                    if (tabled) table.set_note("vellquin-send: " + answer);
                    else say("", answer);
                }
    };
    Interrupts interrupts;
    int interrupted = 0;
    const auto on_interrupt = [&] {
        const int signo = interrupts.take();
        if (signo == 0) return;
        if (single) single->interrupt();
        if (++interrupted == 1) {
            const char* stopping =
                signo == SIGINT ? "stopping; press Ctrl-C again to quit at once" : "terminated; stopping the upload";
            if (tabled) table.set_note(std::string("vellquin-send: ") + stopping);
            else say("", stopping);
            for (const auto& run : runs) run->stop();
            return;
        }
        // Each port is closed in its own thread; they are given a moment.
        for (const auto& run : runs) run->abort();
        loop.run(all_finished, {.on_wake = deliver}, 1.0);
        if (tabled) table.finish();
        bool said = false;
        for (const auto& run : runs)
            for (const UploadOutcome& o : run->outcomes()) said |= o.interrupted;
        if (!said) say("", "interrupted");
        std::fflush(stdout);
        std::_Exit(exit_code::kStopped);
    };

    if (tabled) table.draw();
    for (const auto& run : runs) run->start();
    // JSON lines that need not be read at once (phases, progress) are
    // flushed ten times a second.
    loop.run(all_finished, {.on_wake = deliver,
                            .handle = interrupts.handle(),
                            .on_readable = on_interrupt,
                            .every_tenth = output == Output::Json ? [] { std::fflush(stdout); } : std::function<void()>{}});
    if (tabled) table.finish();

    // 0 when every upload finished; else the first port's, in the order given.
    int status = exit_code::kFinished;
    int finished = 0, failed = 0;
    std::vector<std::string> failed_ports;
    for (const auto& run : runs) {
        bool port_failed = false;
        for (const UploadOutcome& o : run->outcomes()) {
            if (o.exit_status == exit_code::kFinished) {
                ++finished;
                continue;
            }
            ++failed;
            if (status == exit_code::kFinished) status = o.exit_status;
            port_failed = true;
        }
        if (port_failed) failed_ports.push_back(run->target().name);
    }
    if (output == Output::Json) {
        JsonLine summary;
        summary.add_null("port").add("event", "summary").add("finished", finished).add("failed", failed);
        print_json(summary.add("failed_ports", failed_ports).add("exit_status", status), true);
    } else if (several && !failed_ports.empty()) {
        std::string names;
        for (const std::string& p : failed_ports) names += (names.empty() ? "" : ", ") + p;
        say("", std::to_string(finished) + " finished, " + std::to_string(failed) + " failed: " + names);
    }
    if (settings.console) join_console(runs.front()->take_link(), runs.front()->target().name, interrupts);
    return status;
}

}  // namespace vq::cli
