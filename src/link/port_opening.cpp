#include "link/port_opening.h"

#include <exception>

#include "protocol/host.h"

namespace vq {

int port_number_of(std::string_view choice) {
    // At most four digits count, so that a long run cannot overflow; it
    // names no port 1 to 9 either way.
    int number = 0;
    int scale = 1;
    for (std::size_t i = choice.size(); i > 0 && choice[i - 1] >= '0' && choice[i - 1] <= '9'; --i) {
        if (scale > 1000) return kNoPortNumber;
        number += (choice[i - 1] - '0') * scale;
        scale *= 10;
    }
    return number;
}

std::int16_t init_serial_port(std::string_view choice, SerialLink& link, MessageBox& messages,
                              std::string* cause, Waiting waiting) {
    const int port = port_number_of(choice);
    if (!names_a_port(port)) {
        messages.show(kInvalidSerialPort);
        return kPortChoiceInvalid;
    }
    try {
        // A port this window left open (after a missing file, say) on
        // another number is released, not reported as in use.
        if (link.PortOpen() && link.CommPort() != port) link.setPortOpen(false);
        link.setCommPort(static_cast<std::int16_t>(port));
        if (!link.PortOpen()) link.setPortOpen(true);
        link.setSettings(kLineSettings);
        link.setInputLen(1);
        link.setRThreshold(0);
        link.setInputMode(1);
        link.setOutBufferCount(0);
        if (waiting == Waiting::Discard) link.setInBufferCount(0);
    } catch (const std::exception& e) {
        if (cause) *cause = e.what();
        return kPortFailed;
    }
    return kPortReady;
}

}  // namespace vq
