// vellquin-device: a simulated device on a pseudo-terminal, for trying the
// tool without hardware.

#include <CLI/CLI.hpp>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "cli/help_format.h"
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
std::optional<int> whole_number(const std::string& name, const std::string& text, int least) {
    std::size_t used = 0;
    int value = 0;
    try {
        value = std::stoi(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used > 0 && used == text.size() && value >= least) return value;
    std::fprintf(stderr, "vellquin-device: --%s needs a whole number of at least %d, not '%s'\n", name.c_str(), least,
                 text.c_str());
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app(
        "A simulated device for Vellquin Tool. It opens a pseudo-terminal, prints the path to send to on\n"
        "its first line, and answers uploads until interrupted: 'C' to a wake-up, ACK to a good block,\n"
        "NAK to a bad one, ACK to the end of transmission. What it receives is logged to stderr.\n"
        "With --count N it serves N devices, one path a line; K below counts them from 1.",
        "vellquin-device");
    app.set_help_flag("-h,--help", "Show this help and exit.");
    app.formatter(vq::cli::wrapping_help());
    bool version = false, silent = false, no_eot_ack = false, never_start = false, reject = false, noise = false,
         quiet = false;
    std::string out, nak_block, nak_sends = "10", cancel_at, delay = "0", count = "1", link, unplug;
    std::vector<std::string> faults;
    app.add_flag("-v,--version", version, "Show the version and exit.");
    app.add_option("-o,--out", out,
                   "Write each received image (with the 0xFF fill of its last block) to FILE (FILE-K for several "
                   "devices).")
        ->type_name("FILE");
    app.add_option("--nak-block", nak_block, "NAK the first --nak-sends sends of block K (1-based).")->type_name("K");
    app.add_option("--nak-sends", nak_sends, "How many sends --nak-block refuses (default 10).")->type_name("N");
    app.add_flag("--silent", silent, "Never answer a data block.");
    app.add_option("--cancel-at", cancel_at, "Cancel the transfer at block K (1-based).")->type_name("K");
    app.add_flag("--no-eot-ack", no_eot_ack, "Never acknowledge the end of transmission.");
    app.add_flag("--never-start", never_start, "Never send the start request.");
    app.add_flag("--reject", reject, "Answer every wake-up with CAN, and say CAN again whenever the line goes quiet.");
    app.add_flag("--noise", noise, "Answer everything with a byte that means nothing.");
    app.add_option("--reply-delay", delay, "Answer MS milliseconds late.")->type_name("MS");
    app.add_flag("-q,--quiet", quiet, "Log nothing.");
    app.add_option("--count", count, "Serve N devices, each on its own pseudo-terminal.")->type_name("N");
    app.add_option("--fault", faults,
                   "Give device K one fault: silent, no-eot-ack, never-start, reject, noise, nak-block=B or "
                   "cancel-at=B. May be given several times.")
        ->type_name("K:FAULT")
        ->allow_extra_args(false);
    app.add_option("--link", link, "Make PATH (PATH-K for several devices) a link to the pseudo-terminal.")
        ->type_name("PATH");
    app.add_option("--unplug-after", unplug,
                   "After SECONDS remove the links and close the devices, as an unplug does, and end.")
        ->type_name("SECONDS");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::printf("%s", app.help().c_str());
        return 0;
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "vellquin-device: %s\n", e.what());
        return 2;
    }
    if (version) {
        std::printf("vellquin-device %s\n", VQ_VERSION);
        return 0;
    }

    vq::sim::DeviceBehaviour b;
    const auto block_to_nak = nak_block.empty() ? 0 : whole_number("nak-block", nak_block, 1);
    const auto sends_to_nak = whole_number("nak-sends", nak_sends, 1);
    const auto block_to_cancel = cancel_at.empty() ? 0 : whole_number("cancel-at", cancel_at, 1);
    const auto reply_delay = whole_number("reply-delay", delay, 0);
    const auto devices = whole_number("count", count, 1);
    if (!block_to_nak || !sends_to_nak || !block_to_cancel || !reply_delay || !devices) return 2;
    b.nak_block = *block_to_nak;
    b.nak_sends = b.nak_block ? *sends_to_nak : 0;
    b.silent_to_data = silent;
    b.cancel_at_block = *block_to_cancel;
    b.never_ack_eot = no_eot_ack;
    b.never_start = never_start;
    b.reject_wakeups = reject;
    b.noise = noise;

    std::vector<vq::sim::DeviceBehaviour> behaviours(static_cast<std::size_t>(*devices), b);
    for (const std::string& f : faults) {
        const std::size_t colon = f.find(':');
        int k = 0;
        try {
            k = colon == std::string::npos ? 0 : std::stoi(f.substr(0, colon));
        } catch (const std::exception&) {
        }
        if (k < 1 || k > *devices || !vq::sim::add_fault(f.substr(colon + 1), behaviours[static_cast<std::size_t>(k - 1)])) {
            std::fprintf(stderr, "vellquin-device: --fault needs K:FAULT with K from 1 to %d, not '%s'\n", *devices,
                         f.c_str());
            return 2;
        }
    }
    double unplug_after = -1;
    bool seconds_ok = true;
    if (!unplug.empty()) {
        char* end = nullptr;
        unplug_after = std::strtod(unplug.c_str(), &end);
        seconds_ok = end != unplug.c_str() && *end == '\0';
    }
    if (!seconds_ok || (!unplug.empty() && unplug_after < 0)) {
        std::fprintf(stderr, "vellquin-device: --unplug-after needs a number of seconds\n");
        return 2;
    }

    // One name per device: NAME itself for one, NAME-K for several.
    auto nth = [&](const std::string& name, int k) { return *devices == 1 ? name : name + "-" + std::to_string(k); };
    std::vector<std::string> links;
    try {
        std::vector<std::unique_ptr<vq::sim::PtyDevice>> served;
        const bool log = !quiet;
        for (int k = 1; k <= *devices; ++k) {
            auto device = std::make_unique<vq::sim::PtyDevice>(behaviours[static_cast<std::size_t>(k - 1)]);
            device->set_reply_delay(std::chrono::milliseconds(*reply_delay));
            const std::string who = *devices == 1 ? "" : "[" + std::to_string(k) + "] ";
            if (log)
                device->set_log([who](vq::sim::Event e, const std::string& line) {
                    std::fprintf(stderr, "%s%-8s %s\n", who.c_str(), event_name(e), line.c_str());
                });
            const std::string out_file = out.empty() ? std::string() : nth(out, k);
            device->set_on_image([out_file, log, who](const std::vector<std::uint8_t>& image) {
                if (!out_file.empty())
                    std::ofstream(out_file, std::ios::binary)
                        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
                if (log)
                    std::fprintf(stderr, "%simage    %zu bytes received%s%s\n", who.c_str(), image.size(),
                                 out_file.empty() ? "" : ", written to ", out_file.c_str());
            });
            if (!link.empty()) {
                links.push_back(nth(link, k));
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
