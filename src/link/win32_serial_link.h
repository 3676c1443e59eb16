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
// InBufferCount is ClearCommError's count; the clears are PurgeComm. A
// device that went away fails with err::PortGone, which closes the port at
// once; every later operation fails with that error until the port is
// opened again. Other errors leave the port open.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "link/port_errors.h"
#include "link/system_link_base.h"

namespace vq {

class Win32SerialLink final : public SystemLinkBase {
public:
    explicit Win32SerialLink(PortMap ports = {});
    ~Win32SerialLink() override;
    Win32SerialLink(const Win32SerialLink&) = delete;
    Win32SerialLink& operator=(const Win32SerialLink&) = delete;

    // An event to wait on for received bytes, signalled once one waits (at
    // once when one does already); nullptr when the port is closed. It arms
    // a read of one byte, which the next operation settles: a byte it took
    // is the first Input returns.
    void* handle();

    bool PortOpen() const override;
    // The open port's file, to be looked at (GetCommState); nullptr when closed.
    void* file() const;
    void setInBufferCount(std::int16_t count) override;
    int InBufferCount() override;
    void Output(std::span<const std::uint8_t> bytes) override;
    std::vector<std::uint8_t> Input() override;

private:
    struct Port;
    void open_port(const std::string& device) override;
    void close_port() override;
    void apply(const LineSettings& settings) override;
    // Ends the armed one-byte read, keeping what it took.
    void settle_arrival();
    int waiting_in_system();
    [[noreturn]] void fail(unsigned long code, Win32Call call, const std::string& what);

    std::unique_ptr<Port> port_;
    std::optional<std::uint8_t> held_;  // taken by the armed read, not yet by Input
};

}  // namespace vq
