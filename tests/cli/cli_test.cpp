// The command line's pieces: options, fitting a line to the terminal, the trace.

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/json.h"
#include "cli/outputs.h"
#include "cli/progress_printer.h"
#include "cli/send_options.h"
#include "cli/send_ports.h"
#include "cli/trace_writer.h"
#include "cli/written_files.h"
#include "support/temp_file.h"

namespace vq::cli {
namespace {

TEST(SendOptions, BadLinesAreUsageErrorsInPlainWords) {
    const std::string kConsoleAlone =
        "--console joins one port to the terminal: not with --json, --repeat, --all or several ports";
    const struct {
        std::vector<std::string> args;
        std::string error;  // empty: accepted
    } rows[] = {
        {{"--list"}, ""},
        {{"--pace", "fast", "fw.bin"}, "--pace is fixed or reply"},
        {{"--port", "", "fw.bin"}, "--port needs a COM name or a device path"},
        {{"--timeout", "abc", "fw.bin"}, "--timeout needs a number of seconds above 0"},
        {{"a.bin", "b.bin"}, "give exactly one FILE (see --help)"},
        {{"--help-all"}, "Unknown option 'help-all'."},
        {{"-dash.bin"}, "unknown option '-dash.bin'; a file whose name starts with \"-\" is written after -- "
                        "(vellquin-send -- -dash.bin) or as ./-dash.bin"},
        {{"-p", "COM1", "--", "-dash.bin"}, ""},
        {{"--timeout", "0", "fw.bin"}, "--timeout needs a number of seconds above 0"},
        {{"--timeout", "-3", "fw.bin"}, "--timeout needs a number of seconds above 0"},
        {{"-p", "COM1", "-p", "COM2", "--trace", "t.txt", "fw.bin"}, "--trace is for one port; use --log DIR"},
        {{"--all", "--trace", "t.txt", "fw.bin"}, "--trace is for one port; use --log DIR"},
        {{"--all", "-p", "COM1", "fw.bin"}, "give --port or --all, not both"},
        {{"--repeat", "--count", "0", "fw.bin"}, "--count needs --repeat and a number of uploads above 0"},
        {{"--count", "2", "fw.bin"}, "--count needs --repeat and a number of uploads above 0"},
        {{"--console", "--json", "fw.bin"}, kConsoleAlone},
        {{"--console", "-p", "COM1", "-p", "COM2", "fw.bin"}, kConsoleAlone},
        {{"--console", "--protocol", "xmodem", "fw.bin"}, ""},
        {{"--unit", "SN\x1b[2J", "fw.bin"}, "--unit takes a serial number of at most 128 printable characters"},
        {{"--unit", "SN1", "--all", "fw.bin"}, "--unit names one unit: give one --port"},
        {{"--recipe", "x.toml", "--port", "COM1"}, "--recipe fixes what --port would choose"},
        {{"--recipe", "x.toml", "fw.bin"}, "--recipe names the image: no FILE"},
        {{"--recipe", "x.toml", "--count", "5"}, ""},
        {{"--records", "/srv/r.sqlite", "fw.bin"},
         "--records \"/srv/r.sqlite\" names no place for them: none, sqlite:PATH or postgresql://..."},
    };
    for (const auto& r : rows) {
        std::vector<std::string> line{"vellquin-send"};
        line.insert(line.end(), r.args.begin(), r.args.end());
        EXPECT_EQ(parse_send_options(line).error, r.error) << r.args.front();
    }
    const SendOptions o =
        parse_send_options({"vellquin-send", "-p", "COM3", "--timeout", "2.5", "--pace", "reply", "fw.bin"}).options;
    EXPECT_EQ(o.ports, std::vector<std::string>{"COM3"});
    EXPECT_EQ(o.timeout, 2.5);
    EXPECT_EQ(o.file, "fw.bin");
    EXPECT_EQ(o.pace, Pace::Reply);
    EXPECT_EQ(send_help().find("--help-all"), std::string::npos);
}

TEST(SendOptions, TheStandardProtocolsTakeAStartWaitAndNoPacing) {
    const struct {
        std::vector<std::string> args;
        std::string error;
    } rows[] = {
        {{"--protocol", "zmodem", "fw.bin"}, "--protocol is device, xmodem, xmodem-1k, ymodem or (with --command) auto"},
        {{"--protocol", "auto", "fw.bin"}, "--protocol auto is for --command"},
        {{"--command", "loady", "--protocol", "device", "fw.bin"}, "--command is for xmodem, xmodem-1k or ymodem"},
        {{"--command", "loady", "--prompt", "=> (", "fw.bin"}, "--prompt \"=> (\" is no regular expression"},
        {{"--prompt", "=> ", "fw.bin"}, "--prompt is for --command"},
        {{"--command", "loady", "--verify", "md5", "fw.bin"}, "--verify is crc32"},
        {{"--then", "bootm", "fw.bin"}, "--then is for --command"},
        {{"--command", "loady", "--then", "bootm", "--fail-on", "[", "fw.bin"}, "--fail-on \"[\" is no regular expression"},
        {{"--protocol", "ymodem", "--verify", "crc32", "fw.bin"},
         "--verify crc32 is for --command: the receiver's console answers it"},
        {{"--command", "loady", "--name", "a.bin", "fw.bin"}, "--name is for --protocol ymodem"},
        {{"--command", "loadx", "--protocol", "xmodem", "--start-wait", "3", "fw.bin"}, ""},
        {{"--start-wait", "5", "fw.bin"}, "--start-wait is for --protocol xmodem, xmodem-1k or ymodem"},
        {{"--protocol", "ymodem", "--start-wait", "0", "fw.bin"}, "--start-wait needs a number of seconds above 0"},
        {{"--protocol", "xmodem", "--pace", "reply", "fw.bin"},
         "--pace is for --protocol device; the other protocols always go at the receiver's pace"},
        {{"--protocol", "xmodem", "--name", "a.bin", "fw.bin"}, "--name is for --protocol ymodem"},
        {{"--protocol", "ymodem", "--name", "dir/a.bin", "fw.bin"}, "--name needs a file name, without a folder"},
        {{"--protocol", "YModem", "--name", "a.bin", "fw.bin"}, ""},
    };
    for (const auto& r : rows) {
        std::vector<std::string> line{"vellquin-send"};
        line.insert(line.end(), r.args.begin(), r.args.end());
        EXPECT_EQ(parse_send_options(line).error, r.error) << r.args[1];
    }
    const ParsedSendOptions p =
        parse_send_options({"vellquin-send", "--protocol", "xmodem-1k", "--start-wait", "2.5", "fw.bin"});
    EXPECT_EQ(p.error, "");
    EXPECT_EQ(p.options.protocol, Protocol::Xmodem1k);
    EXPECT_EQ(p.options.start_wait, 2.5);
}

TEST(FitToWidth, KeepsALineOffTheTerminalsLastColumn) {
    const struct { std::string line; int columns; std::string fitted; } rows[] = {
        {"Block 2 of 20", 80, "Block 2 of 20"},
        {"Block 2 of 20", 8, "Block 2"},
        {"a \u00B7 b \u00B7 c", 5, "a \u00B7 "},  // a middle dot is one place, three bytes
        {"anything", 1, ""},
        {"", 10, ""},
    };
    for (const auto& r : rows) EXPECT_EQ(fit_to_width(r.line, r.columns), r.fitted) << r.line << " in " << r.columns;
}

TEST(TraceWriter, HasAHeaderNamesEachBlockBesideItsWireNumberAndEndsWithTheOutcome) {
    test::TempDir dir;
    const std::string path = dir.file("trace.txt");
    {
        TraceWriter trace(std::fopen(path.c_str(), "w"), {"vellquin-send 1.0.0", "COM1", "/dev/pts/3", "fw.bin", 263000});
        std::array<std::uint8_t, kFrameSize> frame{};
        frame[0] = 0x02, frame[1] = 1, frame[1027] = 0xAB, frame[1028] = 0xCD;
        trace.start_clock(6.0);  // the opening, four seconds before anything was sent
        trace.on_block(256, 257, 1);
        trace.on_transmission(Transmission::Data, frame, 10.0);
        trace.on_reply({kAck, std::uint8_t{0x06}}, 10.1);
        for (const char c : std::string("\r\n## Total Size = 0x4e20\r\n=> "))
            trace.on_reply({classify_reply(static_cast<std::uint8_t>(c)), static_cast<std::uint8_t>(c)}, 10.2);
        trace.on_reply({kStartRequest, std::uint8_t{'C'}}, 10.3);
        UploadResult finished;
        finished.end = UploadEnd::Finished;
        trace.finish(finished, "Sent 263000 bytes in 257 blocks", 0);
    }
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "# vellquin-send 1.0.0",
                         "# port COM1 = /dev/pts/3",
                         "# file fw.bin, 263000 bytes, 257 blocks",
                         "  4.000000 send block 257 (number 1) crc 0xABCD",
                         "  4.100000 read 0x06 ACK",
                         "  4.200000 read text \"## Total Size = 0x4e20\"",
                         "  4.200000 read text \"=> \"",
                         "  4.300000 read 0x43 start request",
                         "# outcome finished: Sent 263000 bytes in 257 blocks (exit status 0)",
                     }));
}

TEST(JsonAndCsv, QuoteWhatMustBeQuotedAndNothingElse) {
    EXPECT_EQ(json_string("COM1 \"a\\b\"\n\x01 \u00B7"), "\"COM1 \\\"a\\\\b\\\"\\n\\u0001 \u00B7\"");
    EXPECT_EQ(JsonLine().add("port", "COM1").add("bytes", 5000).add_null("message").add("ok", true).text(),
              R"({"port":"COM1","bytes":5000,"message":null,"ok":true})");
    EXPECT_EQ(csv_field("/dev/ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(csv_field("10c4:ea60, serial \"7\""), R"("10c4:ea60, serial ""7""")");
}

TEST(WrittenFiles, ATraceOrLogThatIsTheImageOrThePortUnderAnyNameIsRefused) {
    test::TempDir dir;
    const std::string image = dir.write("img.bin", {1, 2, 3}), port = "/dev/null";  // a device node, as a port is
    std::filesystem::create_hard_link(image, dir.file("hard.bin"));
    std::filesystem::create_symlink(image, dir.file("soft.bin"));
    std::filesystem::create_symlink(port, dir.file("port-link"));
    std::filesystem::create_directory(dir.file("logs"));
    const std::string in_logs = dir.write("logs/summary.csv", {});
    const struct {
        const char* what;
        std::string trace, log_dir, image, clash;  // clash empty: accepted
    } rows[] = {
        {"the same path", image, "", image, "--trace " + image + " is the image " + image},
        {"a hard link", dir.file("hard.bin"), "", image, "--trace " + dir.file("hard.bin") + " is the image"},
        {"a symbolic link", dir.file("soft.bin"), "", image, "is the image"},
        {"a link to the port", dir.file("port-link"), "", image, "--trace " + dir.file("port-link") + " is the port " + port},
        {"summary.csv is the image", "", dir.file("logs"), in_logs, "(its summary.csv) is the image " + in_logs},
        {"another file", dir.write("other.txt", {1, 2, 3}), dir.file("logs"), image, ""},
        {"a trace not made yet", dir.file("new.txt"), "", image, ""},
    };
    for (const auto& r : rows) {
        const std::string clash = clash_of_written_files({r.image, r.trace, r.log_dir, {port}});
        if (r.clash.empty()) {
            EXPECT_EQ(clash, "") << r.what;
        } else {
            EXPECT_NE(clash.find(r.clash), std::string::npos) << r.what << ": " << clash;
        }
    }
    EXPECT_EQ(std::filesystem::file_size(image), 3u) << "nothing was written";
}

// A file's lines, read back from the start.
std::vector<std::string> lines_of(std::FILE* out) {
    std::rewind(out);
    std::vector<std::string> lines;
    for (char line[512]; std::fgets(line, sizeof line, out);) lines.emplace_back(line);
    std::fclose(out);
    return lines;
}

TEST(ProgressPrinter, WithoutATerminalPrintsALineWhenThePercentageChanges) {
    std::FILE* out = std::tmpfile();
    TransferStats stats;
    {
        ProgressPrinter printer(stats, out, nullptr);
        for (int percent : {0, 0, 1, 1, 1, 2, 2, 100}) printer.on_progress(percent);
    }
    EXPECT_EQ(lines_of(out), (std::vector<std::string>{"0%\n", "1%\n", "2%\n", "100%\n"}));

    // On a terminal the line ends with the ending in place of the progress.
    std::FILE* terminal = std::tmpfile();
    stats.on_block(0, 1, 1);
    stats.on_progress(100);
    ProgressPrinter printer(stats, terminal, [] { return 80; });
    printer.on_progress(100);
    printer.conclude("Sent 5 bytes in 1 block");
    const std::string drawn = lines_of(terminal).back();
    EXPECT_EQ(drawn.substr(drawn.rfind('\r')), "\r" + bar_and_percent(100, 30) + "Sent 5 bytes in 1 block\033[K\n");
}

// A row names the image by its absolute path, gives what the device
// acknowledged beside the file's size, and says when --timeout ended it.
TEST(SummaryCsv, ARowHasTheAbsolutePathTheAcknowledgedBytesAndTimedOut) {
    test::TempDir dir;
    SummaryCsv csv(dir.file(""), "COM1", "fw.bin");
    csv.started({"/dev/pts/2", "", 5000, "", Pace::Fixed});
    UploadOutcome o{.timed_out = true};
    o.result.end = UploadEnd::StoppedAcked;
    o.result.image_length = 5000;
    o.result.blocks_acknowledged = 3;
    csv.ended(o);
    std::ifstream in(dir.file("summary.csv"));
    std::string header, row;
    std::getline(in, header);
    std::getline(in, row);
    std::vector<std::string> fields;
    for (std::stringstream cells(row); std::getline(cells, fields.emplace_back(), ',');) {}
    fields.pop_back();
    ASSERT_EQ(fields.size(), 11u) << row;
    EXPECT_EQ(fields[4], (std::filesystem::current_path() / "fw.bin").string());
    EXPECT_EQ(fields[6], "3072");
    EXPECT_EQ(fields[7], "timed_out");
    EXPECT_EQ(fields[10], "5000");
}

TEST(JsonEvents, CountFromOneAsTheUserDoesAndAlwaysGiveTheLastBlocksProgress) {
    std::FILE* out = std::tmpfile();
    TransferStats stats;
    JsonEvents json("COM1", "fw.bin", stats, out);
    json.started({"/dev/ttyUSB0", "", 1500, "", Pace::Fixed});
    json.on_phase(Phase::WakingUp, 0);
    json.on_phase(Phase::Ending, 9);
    for (int block : {0, 1}) {  // within a tenth of a second
        stats.on_block(block, 2, 1);
        json.on_progress(50 * block + 50);
    }
    const std::string figures = R"("bytes_per_second":null,"seconds_left":null,"resends":0,"naks":0})" "\n";
    EXPECT_EQ(lines_of(out), (std::vector<std::string>{
                                 R"({"port":"COM1","event":"start","device":"/dev/ttyUSB0","identity":"","file":"fw.bin",)"
                                 R"("bytes":1500,"blocks":2,"sha256":"","pace":"fixed"})" "\n",
                                 R"({"port":"COM1","event":"phase","phase":"waking","attempt":1})" "\n",
                                 R"({"port":"COM1","event":"phase","phase":"ending","attempt":10})" "\n",
                                 R"({"port":"COM1","event":"progress","block":1,"blocks":2,"percent":50,)" + figures,
                                 R"({"port":"COM1","event":"progress","block":2,"blocks":2,"percent":100,)" + figures,
                             }));
}

TEST(PortTable, EachRowIsOnScreenOnceWithItsEndingWrappedAndStderrWaitsForTheLastDraw) {
    std::FILE* out = std::tmpfile();
    PortTable table([] { return 40; }, out);
    TransferStats stats;
    const auto first = table.row("COM1", stats), second = table.row("COM2", stats);
    EndingLines first_lines("COM1", table.held_lines());
    table.draw();
    first->started({"/dev/pts/2", "", 5000, "", Pace::Fixed});
    stats.on_phase(Phase::Sending, 0);  // an upload ends during its blocks
    first->message("Sending Finised!");
    UploadOutcome timed_out{.timeout_words = "timed out after 12 s"};
    timed_out.result.end = UploadEnd::StoppedNoAck;
    timed_out.ending = "Stopped after block 3, the last the device acknowledged; it did not answer the cancel";
    first->ended(timed_out);
    first_lines.ended(timed_out);
    second->waiting("device", "waiting for a device on COM2");
    table.set_note("stopping");
    std::vector<std::string> said;
    table.finish([&](const std::string& port, const std::string& text) { said.push_back(port + ": " + text); });
    // The last drawing: eight lines over the eight drawn before.
    const std::vector<std::string> drawn = lines_of(out);
    ASSERT_GE(drawn.size(), 8u);
    std::vector<std::string> last(drawn.end() - 8, drawn.end());
    EXPECT_EQ(last.front().substr(0, 4), "\033[8A");
    for (std::string& line : last) line = line.substr(line.find('\r') + 1, line.find("\033[K") - line.find('\r') - 1);
    const std::string indent(13, ' ');
    EXPECT_EQ(last,
              (std::vector<std::string>{"COM1  pts/2  timed out after 12 s \u00B7", indent + "Sending Finised! \u00B7 Stopped",
                                        indent + "after block 3, the last", indent + "the device acknowledged;",
                                        indent + "it did not answer the", indent + "cancel",
                                        "COM2    waiting for a device on COM2", "stopping"}));
    EXPECT_EQ(said, std::vector<std::string>{"COM1: " + timed_out.ending}) << "held until the table was final";
}

TEST(DescribePorts, NamesTheFirstNinePortsAsTheWindowDoesAndTheRestInBrackets) {
    std::vector<PortEntry> ten;
    for (int n = 1; n <= 10; ++n) ten.push_back({"/dev/vq-no-such-port" + std::to_string(n), ""});
    const std::vector<std::string> lines = describe_ports(PortMap(ten));
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[8].substr(0, 8), "COM9    ");
    EXPECT_EQ(lines[9].substr(0, 8), "(COM10) ");
}

// Without --port the sender never guesses among several ports: the first
// is often a built-in UART that is the machine's console.
TEST(DefaultPort, IsTheOnlyPortOrTheOnlyUsbAdapterAndOtherwiseAsksForPort) {
    struct Ports final : PortSource {
        std::vector<PortInfo> devices;
        std::vector<PortInfo> present() override { return devices; }
    };
    const PortInfo console{"/dev/ttyS0", "", "device /dev/ttyS0"}, uart{"/dev/ttyS1", "16550A", "device /dev/ttyS1"};
    const PortInfo adapter{"/dev/ttyUSB0", "FT232R", "usb 0403:6001 A1 if00"};
    const struct {
        std::vector<PortInfo> present;
        std::string port, problem;
    } rows[] = {
        {{}, "", ""},
        {{console}, "COM1", ""},
        {{adapter, console, uart}, "COM1", ""},
        {{adapter, {"/dev/ttyUSB1", "", "usb 0403:6001 B2 if00"}}, "",
         "give --port: 2 ports could be meant: COM1 (/dev/ttyUSB0, FT232R), COM2 (/dev/ttyUSB1)"},
        {{console, uart}, "", "give --port: 2 ports could be meant: COM1 (/dev/ttyS0), COM2 (/dev/ttyS1, 16550A)"},
    };
    for (const auto& r : rows) {
        Ports ports;
        ports.devices = r.present;
        const DefaultPort meant = default_port(ports, Platform::Linux);
        EXPECT_EQ(meant.port, r.port);
        EXPECT_EQ(meant.problem, r.problem);
    }
    // Windows names COM ports that lead nowhere: without a USB adapter, the first that opens is meant.
    Ports com;
    com.devices = {{"COM1", "", "device COM1"}, {"COM2", "", "device COM2"}};
    EXPECT_EQ(default_port(com, Platform::Windows).problem, "");
    com.devices.push_back({"COM5", "USB Serial Device", "usb 0403:6001 A1"});
    EXPECT_EQ(default_port(com, Platform::Windows).port, "COM5");
}

}  // namespace
}  // namespace vq::cli
