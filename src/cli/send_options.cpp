#include "cli/send_options.h"

#include <algorithm>
#include <regex>

#include <CLI/CLI.hpp>

#include "cli/help_format.h"
#include "records/record.h"
#include "records/store.h"

#include <cmath>
#include <sstream>

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
    "Progress: a redrawn bar on a terminal; otherwise a \"NN%\" line each time the percentage changes.\n"
#ifdef _WIN32
    "Ctrl-C (or Ctrl-Break, or closing the console) cancels the transfer with CAN to the device; a second\n"
    "Ctrl-C quits at once.\n"
#else
    "Ctrl-C (or SIGTERM, or closing the terminal) cancels the transfer with CAN to the device; a second\n"
    "one quits at once.\n"
#endif
    "A device that stays silent keeps the sender waiting until then, or until --timeout runs out.\n"
    "\n"
    "Exit status: 0 finished, 1 other failure, 2 bad arguments, 3 invalid port, 4 port busy, not\n"
    "permitted or failed to open, 5 file missing or unreadable, 6 file empty, 7 rejected by the device,\n"
    "8 cancelled by the device, 9 gave up after 10 NAKs, 10 end of transmission not acknowledged,\n"
#ifdef _WIN32
    "11 stopped by Ctrl-C, 12 stopped by --timeout,\n"
#else
    "11 stopped by Ctrl-C, SIGTERM or SIGHUP, 12 stopped by --timeout,\n"
#endif
    "13 (xmodem, xmodem-1k, ymodem) a block not taken after 10 retries, 14 the receiver never asked\n"
    "for the first block within --start-wait, 15 the receiver asked for a new start after the end (it\n"
    "expects YMODEM), 16 (--command) no prompt within --start-wait, 17 (--command) no receiver of the\n"
    "protocol started, nothing sent, 18 (--command) the receiver reports another size than the file's,\n"
    "19 (--verify crc32) the receiver's CRC-32 is not the file's, 20 (--then) a command after the\n"
    "transfer failed.\n"
    "\n"
#ifdef _WIN32
    "COM1..COM9 are the window's ports; a port numbered 10 or above is given as \\\\.\\COM12.\n"
#else
    "COM1..COM9 are numbered as in the window.\n"
#endif
    "\n";

// Every value is taken as text and checked here, so that each mistake is
// named in the tool's own words.
struct Parser {
    Parser() : app(std::string(kDescription) + kPortsEnvironmentHelp, "vellquin-send") {
        app.set_help_flag();
        app.formatter(wrapping_help());
        app.allow_extras();  // unknown options are named below
        app.add_flag("-h,--help", help, "Show this help and exit.");
        app.add_flag("-v,--version", version, "Show the version and exit.");
        app.add_option("-p,--port", ports,
#ifdef _WIN32
                       "COM1..COM9, as in the window, or a device path (\\\\.\\COM12) for any port "
                       "number. Give it several times to send to several devices at once. Default: the "
                       "only port, or the only USB adapter; otherwise the candidates are named.")
#else
                       "COM1..COM9, numbered as in the window, or a device path (/dev/ttyUSB0, "
                       "/dev/serial/by-id/..., any link to a tty). Give it several times to send to "
                       "several devices at once. Default: the only port, or the only USB adapter; "
                       "otherwise the candidates are named (a built-in port is often a console).")
#endif
            ->type_name("PORT")
            ->allow_extra_args(false);
        app.add_flag("--all", all, "Send to every port the window lists, all at once.");
        app.add_flag("-l,--list", list,
                     "List each COM number with its device and whether it is free, busy or not permitted, then exit.");
        app.add_option("-t,--trace", trace,
                       "Write every transmission and reply with its time to FILE, after a header that names the port "
                       "and the file, and end it with the outcome.")
            ->type_name("FILE");
        timeout_option = app.add_option("--timeout", timeout,
                                        "Stop the upload after SECONDS as Ctrl-C does, with CAN to the device; the "
                                        "exit status is then 12. Reading and hashing the file count too.")
                             ->type_name("SECONDS");
        app.add_option("--pace", pace,
                       "fixed (the default): read each answer after the fixed wait devices are built against. reply: "
                       "read each answer as soon as it arrives, up to twice as fast on a real line; a missed answer, "
                       "or a block refused twice in a row, goes back to fixed.")
            ->type_name("fixed|reply");
        app.add_option("--protocol", protocol,
                       "device (the default): the device's own protocol, with wake-ups. xmodem (128-byte blocks), "
                       "xmodem-1k or ymodem (the file's name and size first): for bootloaders such as U-Boot's "
                       "loadx and loady, and for rx and rb. The receiver's first request chooses CRC-16 ('C') or "
                       "the 8-bit sum (NAK); a short last block is padded with 0x1A.")
            ->type_name("device|xmodem|xmodem-1k|ymodem|auto");
        command_option = app.add_option("--command", command,
                                        "Type TEXT at the receiver's console first (U-Boot's loady, loadx): a "
                                        "carriage return brings its prompt, TEXT starts the receiver, whose words "
                                        "name the protocol (--protocol auto, the default here) and are checked "
                                        "against one chosen; afterwards the size it reports must be the file's.")
                             ->type_name("TEXT");
        prompt_option = app.add_option("--prompt", prompt,
                                       "With --command: the console's prompt, a regular expression matched at the "
                                       "end of what it shows. Default: U-Boot's \"=> \", or \"# \", \"$ \", \"> \".")
                            ->type_name("REGEX");
        verify_option = app.add_option("--verify", verify,
                                       "With --command: crc32 types \"crc32 ADDRESS SIZE\" afterwards (U-Boot's "
                                       "command) and fails unless its answer is the file's CRC-32; the exit status "
                                       "is then 19.")
                            ->type_name("crc32");
        then_option = app.add_option("--then", then,
                                     "With --command: type TEXT once the transfer is checked (bootm, or sf update "
                                     "${loadaddr} 0 ${filesize}); give it again for more, in order. Each waits for "
                                     "the prompt the one before gave back; the last may start the image. The exit "
                                     "status is 20 when one fails.")
                          ->type_name("TEXT")
                          ->allow_extra_args(false);
        fail_on_option = app.add_option("--fail-on", fail_on,
                                        "With --then: a regular expression that, found in what a command shows, "
                                        "fails it. Default: Error, error, failed, Unknown command.")
                             ->type_name("REGEX");
        start_wait_option = app.add_option("--start-wait", start_wait,
                                           "xmodem, xmodem-1k, ymodem: how long the receiver may take to ask for the "
                                           "first block (default 60); the exit status is then 14.")
                                ->type_name("SECONDS");
        name_option = app.add_option("--name", name,
                                     "ymodem: the name block 0 gives the file (default: the file's own), for a name "
                                     "too long for block 0 or a receiver that expects another.")
                          ->type_name("NAME");
        records_option = app.add_option("--records", records,
                                        "Where each upload's record goes: sqlite:PATH, a PostgreSQL URI "
                                        "(postgresql://...), or none. Default: VELLQUIN_RECORDS, else the SQLite "
                                        "file in the user's data folder. A server that cannot be reached gets the "
                                        "record later; vellquin-records reads them.")
                             ->type_name("URL");
        app.add_option("--station", station, "The station's name on record (default: the host name).")
            ->type_name("NAME");
        app.add_option("--operator", operator_name, "Who runs the upload, on record.")->type_name("NAME");
        app.add_option("--unit", unit, "The serial number of the unit flashed, on record.")->type_name("SERIAL");
        recipe_option = app.add_option("--recipe", recipe,
                                       "Run a station: the recipe (a TOML file) fixes the image and its SHA-256, the "
                                       "protocol, the pacing, the station's name, where records go and the jig's "
                                       "slots; each slot flashes every board plugged into it, as --repeat does, "
                                       "until Ctrl-C or --count. No FILE, --port or --all then.")
                            ->type_name("RECIPE");
        app.add_flag("--console", console,
                     "Once the upload has ended, keep the port open and join it to this terminal: what the board "
                     "prints shows (the lines its console showed during the upload too), and keys go to it as they "
                     "are typed. Ctrl-] leaves. One port; not with --json or --repeat.");
        app.add_flag("--json", json,
                     "Print JSON Lines on stdout, one object per event (start, phase, progress, pacing, end, and a "
                     "last summary), and nothing else there.");
        app.add_option("--log", log,
                       "Write a log of every upload into DIR (its trace, after the tool's version, the file with its "
                       "SHA-256, the device and its USB identity), and a line into DIR/summary.csv.")
            ->type_name("DIR");
        app.add_flag("--repeat", repeat,
                     "For a fixed jig: on each port, wait until a device is there, send, wait until it is gone, and "
                     "again, until Ctrl-C or --count.");
        count_option = app.add_option("--count", count, "With --repeat: stop after N uploads on each port.")
                           ->type_name("N");
        app.add_option("FILE", file, "The image to send.")->type_name("");
    }
    CLI::App app;
    bool help = false, version = false, all = false, list = false, json = false, repeat = false, console = false;
    std::vector<std::string> ports, files;
    std::string file;  // one; any more are counted from the extras
    std::string trace, timeout, pace = "fixed", log, count, protocol, start_wait, name, command, prompt = kDefaultPrompt;
    std::string verify, fail_on = kDefaultFailOn, records, station, operator_name, unit;
    CLI::Option* records_option = nullptr;
    CLI::Option* recipe_option = nullptr;
    std::string recipe;
    std::vector<std::string> then;
    CLI::Option* verify_option = nullptr;
    CLI::Option* then_option = nullptr;
    CLI::Option* fail_on_option = nullptr;
    CLI::Option* command_option = nullptr;
    CLI::Option* prompt_option = nullptr;
    CLI::Option* timeout_option = nullptr;
    CLI::Option* name_option = nullptr;
    CLI::Option* start_wait_option = nullptr;
    CLI::Option* count_option = nullptr;
};

// What QCommandLineParser-era scripts were told of an option nobody knows,
// and for "-dash.bin" (the options -d -a -s ...) the likelier meaning.
std::string unknown_option(const std::string& arg) {
    if (arg.rfind("--", 0) == 0) return "Unknown option '" + arg.substr(2) + "'.";
    if (arg.size() > 2)
        return "unknown option '" + arg + "'; a file whose name starts with \"-\" is written after -- (vellquin-send -- " +
               arg + ") or as ./" + arg;
    return "Unknown option '" + arg.substr(1) + "'.";
}

// A number of seconds above 0, up to about eleven days.
std::optional<double> seconds_in(const std::string& text) {
    std::istringstream in(text);
    double seconds = 0;
    const bool number = (in >> seconds) && in.eof();
    if (!number || !std::isfinite(seconds) || seconds <= 0 || seconds > 1e6) return std::nullopt;
    return seconds;
}

}  // namespace

ParsedSendOptions parse_send_options(const std::vector<std::string>& arguments) {
    Parser p;
    ParsedSendOptions parsed;
    SendOptions& o = parsed.options;
    try {
        std::vector<std::string> reversed(arguments.rbegin(), arguments.rend() - 1);  // CLI11 takes them backwards
        p.app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        parsed.error = e.what();
        return parsed;
    }
    if (!p.file.empty()) p.files.push_back(p.file);
    bool files_only = false;  // after --
    for (const std::string& extra : p.app.remaining()) {
        if (extra == "--" && !files_only) {
            files_only = true;
            continue;
        }
        if (!files_only && extra.size() > 1 && extra[0] == '-') {
            parsed.error = unknown_option(extra);
            return parsed;
        }
        p.files.push_back(extra);
    }
    o.help = p.help;
    o.version = p.version;
    o.list = p.list;
    if (o.help || o.version) return parsed;

    for (const std::string& port : p.ports) {
        std::string trimmed = port;
        trimmed.erase(0, trimmed.find_first_not_of(" \t"));
        trimmed.erase(trimmed.find_last_not_of(" \t") + 1);
        o.ports.push_back(trimmed);
        if (trimmed.empty()) parsed.error = "--port needs a COM name or a device path";
    }
    o.all = p.all;
    if (o.all && !o.ports.empty()) parsed.error = "give --port or --all, not both";
    o.trace = p.trace;
    if (!o.trace.empty() && (o.all || o.ports.size() > 1)) parsed.error = "--trace is for one port; use --log DIR";
    o.json = p.json;
    o.log_dir = p.log;
    o.repeat = p.repeat || p.recipe_option->count() > 0;  // a station flashes every board plugged in
    if (p.count_option->count() > 0) {
        std::size_t used = 0;
        try {
            o.count = std::stoi(p.count, &used);
        } catch (const std::exception&) {
            used = 0;
        }
        if (used == 0 || used != p.count.size() || o.count < 1 || !o.repeat)
            parsed.error = "--count needs --repeat and a number of uploads above 0";
    }
    if (p.pace == pace_word(Pace::Reply)) o.pace = Pace::Reply;
    else if (p.pace != pace_word(Pace::Fixed)) parsed.error = "--pace is fixed or reply";
    if (p.timeout_option->count() > 0) {
        if (const auto seconds = seconds_in(p.timeout))
            o.timeout = *seconds;
        else
            parsed.error = "--timeout needs a number of seconds above 0";
    }
    // What the console options are given: a line to type, a pattern to find.
    const auto one_line = [](const std::string& text) {
        return !text.empty() && text.find_first_of("\r\n") == std::string::npos;
    };
    const auto check_pattern = [&](const char* option, const std::string& text) {
        try {
            (void)std::regex(text);
        } catch (const std::regex_error&) {
            parsed.error = std::string(option) + " \"" + text + "\" is no regular expression";
        }
    };
    const bool console = p.command_option->count() > 0;
    o.command = p.command;
    o.prompt = p.prompt;
    o.then = p.then;
    o.fail_on = p.fail_on;
    check_pattern("--prompt", p.prompt);
    check_pattern("--fail-on", p.fail_on);
    if (console && !one_line(p.command)) parsed.error = "--command needs one line of text";
    if (!console && p.prompt_option->count() > 0) parsed.error = "--prompt is for --command";
    if (p.then_option->count() > 0 && !console) parsed.error = "--then is for --command";
    else if (p.fail_on_option->count() > 0 && p.then.empty()) parsed.error = "--fail-on is for --then";
    if (!std::all_of(p.then.begin(), p.then.end(), one_line)) parsed.error = "--then needs one line of text";
    if (p.verify_option->count() > 0) {
        o.verify_crc32 = true;
        if (p.verify != "crc32") parsed.error = "--verify is crc32";
        else if (!console) parsed.error = "--verify crc32 is for --command: the receiver's console answers it";
    }
    if (console && (p.protocol.empty() || p.protocol == "auto")) {
        o.protocol = Protocol::Ymodem;  // until the receiver names its own
        o.protocol_from_receiver = true;
    } else if (const auto protocol = protocol_from_word(p.protocol.empty() ? "device" : p.protocol)) {
        o.protocol = *protocol;
        if (console && o.protocol == Protocol::Device) parsed.error = "--command is for xmodem, xmodem-1k or ymodem";
    } else {
        parsed.error = p.protocol == "auto" ? "--protocol auto is for --command"
                                            : "--protocol is device, xmodem, xmodem-1k, ymodem or (with --command) auto";
    }
    if (p.start_wait_option->count() > 0) {
        if (const auto seconds = seconds_in(p.start_wait))
            o.start_wait = *seconds;
        else
            parsed.error = "--start-wait needs a number of seconds above 0";
        if (o.protocol == Protocol::Device) parsed.error = "--start-wait is for --protocol xmodem, xmodem-1k or ymodem";
    }
    if (p.name_option->count() > 0) {
        o.send_name = p.name;
        if (o.protocol != Protocol::Ymodem || o.protocol_from_receiver) parsed.error = "--name is for --protocol ymodem";
        else if (p.name.empty() || p.name.find_first_of(std::string_view("/\\\0", 3)) != std::string::npos)
            parsed.error = "--name needs a file name, without a folder";
    }
    o.records = p.records;
    if (p.records_option->count() > 0) {
        std::string error;
        if (!records::parse_records_target(p.records, &error)) parsed.error = "--" + error;
    }
    o.station = p.station;
    o.operator_name = p.operator_name;
    o.unit = p.unit;
    if (!records::valid_unit(p.unit)) parsed.error = "--unit takes a serial number of at most 128 printable characters";
    else if (!p.unit.empty() && (o.all || o.ports.size() > 1))
        parsed.error = "--unit names one unit: give one --port";
    o.console = p.console;
    if (o.console && (o.json || o.repeat || o.all || o.ports.size() > 1))
        parsed.error = "--console joins one port to the terminal: not with --json, --repeat, --all or several ports";
    if (o.protocol != Protocol::Device && o.pace == Pace::Reply)
        parsed.error = "--pace is for --protocol device; the other protocols always go at the receiver's pace";

    o.recipe = p.recipe;
    if (p.recipe_option->count() > 0) {
        // The recipe fixes what an operator may not change.
        for (const char* fixed : {"--port", "--all", "--protocol", "--pace", "--name", "--command", "--unit", "--repeat"})
            if (p.app.count(fixed) > 0) parsed.error = std::string("--recipe fixes what ") + fixed + " would choose";
        if (!p.files.empty()) parsed.error = "--recipe names the image: no FILE";
        return parsed;
    }
    if (p.files.size() == 1) o.file = p.files.front();
    if (parsed.error.empty() && !o.list && p.files.size() != 1) parsed.error = "give exactly one FILE (see --help)";
    return parsed;
}

std::string send_help() { return Parser().app.help(); }

}  // namespace vq::cli
