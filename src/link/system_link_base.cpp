#include "link/system_link_base.h"

namespace vq {

std::string SystemLinkBase::device() const {
    if (!open_device_.empty()) return open_device_;
    const PortEntry* e = ports_.entry(comm_port_);
    return e ? e->device : std::string();
}

void SystemLinkBase::setCommPort(std::int16_t port) {
    if (PortOpen() && port != comm_port_)
        throw Failure(err::PortOperationWhileOpen, "the port number cannot change while the port is open");
    if (port < 1) throw Failure(err::PortInvalid, "port numbers start at 1");
    comm_port_ = port;
}

void SystemLinkBase::setPortOpen(bool open) {
    if (!open) {
        close_port();
        broken_.reset();
        open_device_.clear();
        return;
    }
    if (PortOpen()) throw Failure(err::PortAlreadyOpen, "COM" + std::to_string(comm_port_) + " is already open");
    const PortEntry* entry = ports_.entry(comm_port_);
    if (!entry) throw Failure(err::PortInvalid, "COM" + std::to_string(comm_port_) + " names no serial device");
    broken_.reset();
    open_port(entry->device);
    open_device_ = entry->device;
    try {
        apply(settings_);
    } catch (...) {
        close_port();
        open_device_.clear();
        throw;
    }
}

void SystemLinkBase::setSettings(std::string_view text) {
    const auto parsed = parse_line_settings(text);
    if (!parsed) throw Failure(err::InvalidPropertyValue, "malformed line settings \"" + std::string(text) + "\"");
    if (PortOpen()) {
        try {
            apply(*parsed);
            tune_for_transfer();
        } catch (const Failure& f) {
            // Refused settings leave the port open; a device that went away
            // closes it, as every other operation that finds it gone does.
            if (device_went_away()) break_with(Failure(err::PortGone, f.what()));
            throw;
        }
    }
    settings_ = *parsed;
}

void SystemLinkBase::setInputLen(std::int16_t bytes) {
    if (bytes < 0) throw Failure(err::InvalidPropertyValue, "InputLen must not be negative");
    input_len_ = bytes;
}

void SystemLinkBase::setRThreshold(std::int16_t bytes) {
    if (bytes != 0) throw Failure(err::InvalidPropertyValue, "only RThreshold 0 is supported");
}

void SystemLinkBase::setInputMode(std::int32_t mode) {
    if (mode != 0 && mode != 1) throw Failure(err::InvalidPropertyValue, "InputMode is 0 or 1");
}

void SystemLinkBase::setOutBufferCount(std::int16_t count) {
    if (count != 0) throw Failure(err::InvalidPropertyValue, "OutBufferCount can only be set to 0");
}

void SystemLinkBase::require_open() const {
    if (broken_) throw *broken_;
    if (!PortOpen()) throw Failure(err::PortNotOpen, "the port is not open");
}

void SystemLinkBase::break_with(const Failure& failure) {
    if (failure.number() == err::PortGone && PortOpen()) {
        broken_ = failure;
        close_port();
    }
    throw failure;
}

}  // namespace vq
