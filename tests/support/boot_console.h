#pragma once
// A bootloader's console on the fake link, as U-Boot's behaves.

#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>

#include "support/fake_link.h"
#include "support/standard_receiver.h"
#include "support/virtual_clock.h"

namespace vq::test {

// U-Boot at its prompt: a carriage return shows "=> ", loadx or loady starts
// its receiver after its words, which asks at once, and the end brings its
// report of the size, then the prompt.
struct BootConsole {
    BootConsole(StandardReceiver& r, FakeLink& l, VirtualClock& c, std::function<void()> stopped)
        : receiver(r), link(l), clock(c), stop(std::move(stopped)) {
        receiver.script = [this](const Bytes& heard) -> std::optional<Bytes> {
            const std::string text(heard.begin(), heard.end());
            if (text == "\r") return prompt ? as_bytes("\r\n=> ") : Bytes{};
            if (text.ends_with('\r')) {  // a command
                const std::string command = text.substr(0, text.size() - 1);
                if (command.starts_with("crc32 0x02000000 ")) {  // of the data received, of the size asked
                    Bytes got = this->receiver.data;
                    got.resize(std::stoul(command.substr(17), nullptr, 16));
                    char answer[64];
                    std::snprintf(answer, sizeof answer, "==> %08x\r\n=> ", checksum(got) ^ (wrong_crc ? 1u : 0u));
                    return as_bytes(text + "\ncrc32 for 02000000 ... " + answer);
                }
                if (const auto a = answers.find(command); a != answers.end()) return as_bytes(text + "\n" + a->second);
                if (command != "loadx" && command != "loady")
                    return as_bytes(text + "\nUnknown command '" + command + "' - try 'help'\r\n=> ");
                ymodem = command == "loady";
                this->receiver.ask('C', this->clock.now() + 0.01);
                return as_bytes(text + "\n## Ready for binary (" + command.substr(4) + "modem) download to 0x02000000 at "
                                       "115200 bps...\r\n");
            }
            const bool ended = ymodem ? heard.size() > 3 && heard[1] == 0 && heard[3] == 0 : heard.front() == wire::EOT;
            if (ended && stop_at_end) this->clock.after(0.01, [this] { this->stop(); });
            if (ended && report)
                this->clock.after(0.01, [this] {
                    this->link.deliver(as_bytes("## Total Size      = 0x0 = " + std::to_string(*report) +
                                                " Bytes\r\n## Start Addr      = 0x02000000\r\n=> "));
                });
            return std::nullopt;
        };
    }
    static Bytes as_bytes(const std::string& text) { return {text.begin(), text.end()}; }
    // Stands for the CRC-32: any function of the bytes shows which bytes the upload checks.
    static std::uint32_t checksum(std::span<const std::uint8_t> bytes) {
        std::uint32_t sum = static_cast<std::uint32_t>(bytes.size());
        for (const std::uint8_t b : bytes) sum = sum * 31 + b;
        return sum;
    }
    bool wrong_crc = false;
    bool stop_at_end = false;  // the user stops instead of the report coming
    std::map<std::string, std::string> answers;  // what other commands show after their echo
    StandardReceiver& receiver;
    FakeLink& link;
    VirtualClock& clock;
    std::function<void()> stop;
    bool ymodem = false;  // loady started
    bool prompt = true;
    std::optional<std::int64_t> report;
};

}  // namespace vq::test
