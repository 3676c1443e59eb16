#include "support/fake_link.h"

#include "protocol/failure.h"

namespace vq::test {

void FakeLink::fail(const std::string& op, int number, int times) { failures_[op] = {number, times}; }

void FakeLink::vanish() {
    vanished_ = true;
    open_ = false;
    rx_.clear();
}

void FakeLink::deliver(const std::vector<std::uint8_t>& bytes) {
    if (open_) rx_.insert(rx_.end(), bytes.begin(), bytes.end());
}

void FakeLink::op(const std::string& name, const std::string& shown) const {
    if (recording_) ops_.push_back(shown);
    for (const std::string& key : {shown, name}) {
        auto it = failures_.find(key);
        if (it != failures_.end() && it->second.second > 0) {
            --it->second.second;
            throw Failure(it->second.first, "scripted failure of " + shown);
        }
    }
}

void FakeLink::require_open(const char* what) const {
    if (vanished_) throw Failure(err::PortGone, std::string(what) + ": Input/output error");
    if (!open_) throw Failure(err::PortNotOpen, std::string(what) + ": the port is not open");
}

void FakeLink::setCommPort(std::int16_t port) {
    op("CommPort", "CommPort=" + std::to_string(port));
    if (open_ && port != comm_port_) throw Failure(err::PortOperationWhileOpen, "port open");
    comm_port_ = port;
}

std::int16_t FakeLink::CommPort() const {
    op("CommPort?", "CommPort?");
    return comm_port_;
}

void FakeLink::setPortOpen(bool open) {
    op("PortOpen", open ? "PortOpen=true" : "PortOpen=false");
    if (!open) {
        open_ = false;
        return;
    }
    if (open_) throw Failure(err::PortAlreadyOpen, "already open");
    auto it = ports_.find(comm_port_);
    const PortKind kind = it == ports_.end() ? PortKind::Missing : it->second;
    if (kind == PortKind::Missing) throw Failure(err::PortInvalid, "no such port");
    if (kind == PortKind::Held) throw Failure(err::PortAlreadyOpen, "held by another program");
    open_ = true;
    vanished_ = false;
    ++openings_;
    rx_.clear();
}

bool FakeLink::PortOpen() const {
    op("PortOpen?", "PortOpen?");
    return open_;
}

void FakeLink::setSettings(std::string_view settings) {
    op("Settings", "Settings=" + std::string(settings));
    settings_ = settings;
}

void FakeLink::setInputLen(std::int16_t bytes) {
    op("InputLen", "InputLen=" + std::to_string(bytes));
    input_len_ = bytes;
}

void FakeLink::setRThreshold(std::int16_t bytes) { op("RThreshold", "RThreshold=" + std::to_string(bytes)); }

void FakeLink::setInputMode(std::int32_t mode) { op("InputMode", "InputMode=" + std::to_string(mode)); }

void FakeLink::setOutBufferCount(std::int16_t count) {
    op("OutBufferCount", "OutBufferCount=" + std::to_string(count));
    require_open("OutBufferCount");
}

void FakeLink::setInBufferCount(std::int16_t count) {
    op("InBufferCount", "InBufferCount=" + std::to_string(count));
    require_open("InBufferCount");
    rx_.clear();
}

void FakeLink::Output(std::span<const std::uint8_t> bytes) {
    op("Output", "Output");
    require_open("Output");
    if (on_output) on_output(bytes);
}

int FakeLink::InBufferCount() {
    op("InBufferCount?", "InBufferCount?");
    require_open("InBufferCount?");
    return static_cast<int>(rx_.size());
}

std::vector<std::uint8_t> FakeLink::Input() {
    op("Input", "Input");
    require_open("Input");
    const std::size_t n = input_len_ == 0 ? rx_.size() : std::min<std::size_t>(rx_.size(), input_len_);
    std::vector<std::uint8_t> out(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(n));
    rx_.erase(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(n));
    return out;
}

}  // namespace vq::test
