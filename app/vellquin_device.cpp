// vellquin-device: a simulated device on a pseudo-terminal, for trying the
// tool without hardware.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <optional>

#include "sim/pty_device.h"

namespace {

std::atomic<bool> g_running{true};
void on_signal(int) { g_running = false; }

const char* event_name(vq::sim::Event e) {
    using vq::sim::Event;
    switch (e) {
    case Event::WakeUp: return "wake-up";
    case Event::Block: return "block";
    case Event::RepeatedBlock: return "repeat";
    case Event::BadBlock: return "refused";
    case Event::Cancel: return "cancel";
    case Event::EndOfTransmission: return "end";
    case Event::Unknown: return "other";
    }
    return "";
}

// A whole number of at least `least`, or nullopt after a usage message.
std::optional<int> whole_number(const QCommandLineParser& parser, const QCommandLineOption& option, int least) {
    bool ok = false;
    const int value = parser.value(option).toInt(&ok);
    if (ok && value >= least) return value;
    std::fprintf(stderr, "vellquin-device: --%s needs a whole number of at least %d, not '%s'\n",
                 qPrintable(option.names().back()), least, qPrintable(parser.value(option)));
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vellquin-device"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A simulated device for Vellquin Tool. It opens a pseudo-terminal, prints the path to send to on\n"
        "its first line, and answers uploads until interrupted: 'C' to a wake-up, ACK to a good block,\n"
        "NAK to a bad one, ACK to the end of transmission. What it receives is logged to stderr."));
    const QCommandLineOption help({"h", "help"}, "Show this help and exit.");
    const QCommandLineOption version({"v", "version"}, "Show the version and exit.");
    const QCommandLineOption out({"o", "out"}, "Write each received image (with the 0xFF fill of its last block) to FILE.", "FILE");
    const QCommandLineOption nak_block("nak-block", "NAK the first --nak-sends sends of block K (1-based).", "K");
    const QCommandLineOption nak_sends("nak-sends", "How many sends --nak-block refuses (default 10).", "N", "10");
    const QCommandLineOption silent("silent", "Never answer a data block.");
    const QCommandLineOption cancel_at("cancel-at", "Cancel the transfer at block K (1-based).", "K");
    const QCommandLineOption no_eot_ack("no-eot-ack", "Never acknowledge the end of transmission.");
    const QCommandLineOption never_start("never-start", "Never send the start request.");
    const QCommandLineOption reject("reject", "Answer every wake-up with CAN.");
    const QCommandLineOption noise("noise", "Answer everything with a byte that means nothing.");
    const QCommandLineOption delay("reply-delay", "Answer MS milliseconds late.", "MS", "0");
    const QCommandLineOption quiet({"q", "quiet"}, "Log nothing.");
    parser.addOptions({help, version, out, nak_block, nak_sends, silent, cancel_at, no_eot_ack, never_start, reject,
                       noise, delay, quiet});
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "vellquin-device: %s\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(help)) {
        std::printf("%s", qPrintable(parser.helpText()));
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("vellquin-device %s\n", VQ_VERSION);
        return 0;
    }

    vq::sim::DeviceBehaviour b;
    const auto block_to_nak = parser.isSet(nak_block) ? whole_number(parser, nak_block, 1) : 0;
    const auto sends_to_nak = whole_number(parser, nak_sends, 1);
    const auto block_to_cancel = parser.isSet(cancel_at) ? whole_number(parser, cancel_at, 1) : 0;
    const auto reply_delay = whole_number(parser, delay, 0);
    if (!block_to_nak || !sends_to_nak || !block_to_cancel || !reply_delay) return 2;
    b.nak_block = *block_to_nak;
    b.nak_sends = b.nak_block ? *sends_to_nak : 0;
    b.silent_to_data = parser.isSet(silent);
    b.cancel_at_block = *block_to_cancel;
    b.never_ack_eot = parser.isSet(no_eot_ack);
    b.never_start = parser.isSet(never_start);
    b.reject_wakeups = parser.isSet(reject);
    b.noise = parser.isSet(noise);

    try {
        vq::sim::PtyDevice device(b);
        device.set_reply_delay(std::chrono::milliseconds(*reply_delay));
        if (!parser.isSet(quiet))
            device.set_log([](vq::sim::Event e, const std::string& line) {
                std::fprintf(stderr, "%-8s %s\n", event_name(e), line.c_str());
            });
        const std::string out_file = parser.value(out).toStdString();
        const bool log = !parser.isSet(quiet);
        device.set_on_image([&](const std::vector<std::uint8_t>& image) {
            if (!out_file.empty()) {
                std::ofstream(out_file, std::ios::binary)
                    .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
            }
            if (log)
                std::fprintf(stderr, "image    %zu bytes received%s%s\n", image.size(),
                             out_file.empty() ? "" : ", written to ", out_file.c_str());
        });
        std::printf("%s\n", device.path().c_str());
        std::fflush(stdout);
        std::signal(SIGINT, on_signal);
        std::signal(SIGTERM, on_signal);
        device.serve(g_running);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vellquin-device: %s\n", e.what());
        return 1;
    }
    return 0;
}
