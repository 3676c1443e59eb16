// vellquin-device: a simulated device on a pseudo-terminal, for trying the
// tool without hardware.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

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
        "NAK to a bad one, ACK to the end of transmission. What it receives is logged to stderr.\n"
        "With --count N it serves N devices, one path a line; K below counts them from 1."));
    const QCommandLineOption help({"h", "help"}, "Show this help and exit.");
    const QCommandLineOption version({"v", "version"}, "Show the version and exit.");
    const QCommandLineOption out({"o", "out"},
                                 "Write each received image (with the 0xFF fill of its last block) to FILE "
                                 "(FILE-K for several devices).",
                                 "FILE");
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
    const QCommandLineOption count("count", "Serve N devices, each on its own pseudo-terminal.", "N", "1");
    const QCommandLineOption fault("fault",
                                   "Give device K one fault: silent, no-eot-ack, never-start, reject, noise, "
                                   "nak-block=B or cancel-at=B. May be given several times.",
                                   "K:FAULT");
    const QCommandLineOption link("link", "Make PATH (PATH-K for several devices) a link to the pseudo-terminal.",
                                  "PATH");
    const QCommandLineOption unplug("unplug-after",
                                    "After SECONDS remove the links and close the devices, as an unplug does, "
                                    "and end.",
                                    "SECONDS");
    parser.addOptions({help, version, out, nak_block, nak_sends, silent, cancel_at, no_eot_ack, never_start, reject,
                       noise, delay, quiet, count, fault, link, unplug});
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
    const auto devices = whole_number(parser, count, 1);
    if (!block_to_nak || !sends_to_nak || !block_to_cancel || !reply_delay || !devices) return 2;
    b.nak_block = *block_to_nak;
    b.nak_sends = b.nak_block ? *sends_to_nak : 0;
    b.silent_to_data = parser.isSet(silent);
    b.cancel_at_block = *block_to_cancel;
    b.never_ack_eot = parser.isSet(no_eot_ack);
    b.never_start = parser.isSet(never_start);
    b.reject_wakeups = parser.isSet(reject);
    b.noise = parser.isSet(noise);

    std::vector<vq::sim::DeviceBehaviour> behaviours(static_cast<std::size_t>(*devices), b);
    for (const QString& f : parser.values(fault)) {
        bool ok = false;
        const int k = f.section(':', 0, 0).toInt(&ok);
        if (!ok || k < 1 || k > *devices || !vq::sim::add_fault(f.section(':', 1).toStdString(), behaviours[k - 1])) {
            std::fprintf(stderr, "vellquin-device: --fault needs K:FAULT with K from 1 to %d, not '%s'\n", *devices,
                         qPrintable(f));
            return 2;
        }
    }
    bool seconds_ok = true;
    const double unplug_after = parser.isSet(unplug) ? parser.value(unplug).toDouble(&seconds_ok) : -1;
    if (!seconds_ok || (parser.isSet(unplug) && unplug_after < 0)) {
        std::fprintf(stderr, "vellquin-device: --unplug-after needs a number of seconds\n");
        return 2;
    }

    // One name per device: NAME itself for one, NAME-K for several.
    auto nth = [&](const QString& name, int k) {
        return *devices == 1 ? name.toStdString() : name.toStdString() + "-" + std::to_string(k);
    };
    std::vector<std::string> links;
    try {
        std::vector<std::unique_ptr<vq::sim::PtyDevice>> served;
        const bool log = !parser.isSet(quiet);
        for (int k = 1; k <= *devices; ++k) {
            auto device = std::make_unique<vq::sim::PtyDevice>(behaviours[static_cast<std::size_t>(k - 1)]);
            device->set_reply_delay(std::chrono::milliseconds(*reply_delay));
            const std::string who = *devices == 1 ? "" : "[" + std::to_string(k) + "] ";
            if (log)
                device->set_log([who](vq::sim::Event e, const std::string& line) {
                    std::fprintf(stderr, "%s%-8s %s\n", who.c_str(), event_name(e), line.c_str());
                });
            const std::string out_file = parser.isSet(out) ? nth(parser.value(out), k) : std::string();
            device->set_on_image([out_file, log, who](const std::vector<std::uint8_t>& image) {
                if (!out_file.empty())
                    std::ofstream(out_file, std::ios::binary)
                        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
                if (log)
                    std::fprintf(stderr, "%simage    %zu bytes received%s%s\n", who.c_str(), image.size(),
                                 out_file.empty() ? "" : ", written to ", out_file.c_str());
            });
            if (parser.isSet(link)) {
                links.push_back(nth(parser.value(link), k));
                std::filesystem::remove(links.back());
                std::filesystem::create_symlink(device->path(), links.back());
            }
            std::printf("%s\n", device->path().c_str());
            served.push_back(std::move(device));
        }
        std::fflush(stdout);
        std::signal(SIGINT, on_signal);
        std::signal(SIGTERM, on_signal);
        for (auto& device : served) device->start();
        const auto start = std::chrono::steady_clock::now();
        while (g_running) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (unplug_after >= 0 &&
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >= unplug_after)
                break;
        }
        for (const std::string& l : links) std::filesystem::remove(l);
        links.clear();
        for (auto& device : served) device->hang_up();
    } catch (const std::exception& e) {
        for (const std::string& l : links) std::filesystem::remove(l);
        std::fprintf(stderr, "vellquin-device: %s\n", e.what());
        return 1;
    }
    return 0;
}
