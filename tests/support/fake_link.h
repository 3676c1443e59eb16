#pragma once
// A serial link for tests. Each port can open, be held by another program,
// be missing, or fail a chosen operation; every operation is recorded, and
// what the sender writes goes to a callback while replies are queued with
// deliver().

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "protocol/serial_link.h"

namespace vq::test {

enum class PortKind { Opens, Held, Missing };

class FakeLink final : public SerialLink {
public:
    // Ports not configured are missing.
    void set_port(int port, PortKind kind) { ports_[port] = kind; }
    // The next `times` calls of operation `op` ("CommPort", "PortOpen=true",
    // "PortOpen?", "Settings", "Output", "Input", ...) fail with `number`.
    void fail(const std::string& op, int number, int times = 1000000);
    // The device disappears: the port closes, and every later operation on
    // it fails until it is opened again.
    void vanish();
    // Bytes the device sends; they wait for Input.
    void deliver(const std::vector<std::uint8_t>& bytes);
    void set_recording(bool on) { recording_ = on; }

    std::function<void(std::span<const std::uint8_t>)> on_output;

    const std::vector<std::string>& ops() const { return ops_; }
    void clear_ops() { ops_.clear(); }
    std::int16_t comm_port() const { return comm_port_; }
    bool open() const { return open_; }
    const std::string& settings() const { return settings_; }
    std::int16_t input_len() const { return input_len_; }
    std::size_t waiting() const { return rx_.size(); }
    int openings() const { return openings_; }

    void setCommPort(std::int16_t port) override;
    std::int16_t CommPort() const override;
    void setPortOpen(bool open) override;
    bool PortOpen() const override;
    void setSettings(std::string_view settings) override;
    void setInputLen(std::int16_t bytes) override;
    void setRThreshold(std::int16_t bytes) override;
    void setInputMode(std::int32_t mode) override;
    void setOutBufferCount(std::int16_t count) override;
    void setInBufferCount(std::int16_t count) override;
    int InBufferCount() override;
    void Output(std::span<const std::uint8_t> bytes) override;
    std::vector<std::uint8_t> Input() override;

private:
    void op(const std::string& name, const std::string& shown) const;
    void require_open(const char* what) const;

    std::map<int, PortKind> ports_;
    mutable std::map<std::string, std::pair<int, int>> failures_;  // op -> (number, times left)
    mutable std::vector<std::string> ops_;
    bool recording_ = true;
    std::deque<std::uint8_t> rx_;
    std::int16_t comm_port_ = 1;
    bool open_ = false;
    bool vanished_ = false;
    int openings_ = 0;
    std::string settings_ = "9600,N,8,1";
    std::int16_t input_len_ = 0;
};

}  // namespace vq::test
