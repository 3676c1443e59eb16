#pragma once
// The serial link over the Win32 communications API.
//
// Opening is CreateFileW on \\.\COMn with no sharing, for overlapped I/O,
// so that every wait below has an end: Windows itself refuses a second
// opening ("Access is denied"). A named mutex per port stands for the port
// too, so that a second opening by any of these programs is refused where
// the system does not refuse it (Wine). The line is a DCB for the settings
// given (115200 8N1 by default): binary, no flow control of any kind.
//
// A read takes only what has arrived. Output writes every byte, looping on
// partial writes, within a time bound, then waits in FlushFileBuffers.
// InBufferCount is ClearCommError's count; the clears are PurgeComm. The
// first error of an open port closes it at once; every later operation
// fails with that error until the port is opened again. A device that went
// away fails with err::PortGone.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "link/line_settings.h"
#include "link/port_errors.h"
#include "link/port_map.h"
#include "protocol/failure.h"
#include "protocol/serial_link.h"

namespace vq {

class Win32SerialLink final : public SerialLink {
public:
    explicit Win32SerialLink(PortMap ports = {});
    ~Win32SerialLink() override;
    Win32SerialLink(const Win32SerialLink&) = delete;
    Win32SerialLink& operator=(const Win32SerialLink&) = delete;

    const PortMap& ports() const { return ports_; }
    void setPorts(PortMap ports) { ports_ = std::move(ports); }
    // The device the link has open, or would open next: COM3, \\.\COM12.
    std::string device() const;
    // An event to wait on for received bytes, signalled once one waits (at
    // once when one does already); nullptr when the port is closed. It arms
    // a read of one byte, which the next operation settles: a byte it took
    // is the first Input returns.
    void* handle();

    void setCommPort(std::int16_t port) override;
    std::int16_t CommPort() const override { return comm_port_; }
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
    struct Port;
    void open_port(const std::string& device);
    void close_port();
    void apply(const LineSettings& settings);
    void require_open();
    // Ends the armed one-byte read, keeping what it took.
    void settle_arrival();
    int waiting_in_system();
    [[noreturn]] void fail(unsigned long code, Win32Call call, const std::string& what);

    PortMap ports_;
    std::unique_ptr<Port> port_;
    std::int16_t comm_port_ = 1;
    std::int16_t input_len_ = 0;
    LineSettings settings_;
    std::optional<std::uint8_t> held_;  // taken by the armed read, not yet by Input
    std::optional<Failure> broken_;     // the error that closed the port
};

}  // namespace vq
