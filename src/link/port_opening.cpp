#include "link/port_opening.h"

#include <exception>

#include "protocol/host.h"

namespace vq {

int port_number_of(std::string_view choice) {
    if (choice.empty()) return 0;
    const char last = choice.back();
    return (last >= '0' && last <= '9') ? last - '0' : 0;
}

std::int16_t init_serial_port(std::string_view choice, SerialLink& link, MessageBox& messages,
                              std::string* cause) {
    const int port = port_number_of(choice);
    if (port < 1 || port > 9) {
        messages.show(kInvalidSerialPort);
        return kPortChoiceInvalid;
    }
    try {
        link.setCommPort(static_cast<std::int16_t>(port));
        if (!link.PortOpen()) link.setPortOpen(true);
        link.setSettings(kLineSettings);
        link.setInputLen(1);
        link.setRThreshold(0);
        link.setInputMode(1);
        link.setOutBufferCount(0);
        link.setInBufferCount(0);
    } catch (const std::exception& e) {
        if (cause) *cause = e.what();
        return kPortFailed;
    }
    return kPortReady;
}

}  // namespace vq
