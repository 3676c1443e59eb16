#pragma once
// The serial port as the upload sees it: a communications control with a
// handful of properties. The link layer implements it over the system's
// serial devices. Every operation either does what it says or throws
// vq::Failure with an error number; callers tell apart only
// err::PortAlreadyOpen (another program holds the port) and err::PortGone
// (an open port whose device went away). The link never
// shows anything, never calls back, and is used from one thread.

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace vq {

class SerialLink {
public:
    virtual ~SerialLink() = default;

    // Selects the port (1..9, or whatever the port map knows) for the next
    // opening. While the port is open, the same number is accepted and any
    // other number fails with err::PortOperationWhileOpen.
    virtual void setCommPort(std::int16_t port) = 0;
    // The port number last selected.
    virtual std::int16_t CommPort() const = 0;

    // true opens the selected port: err::PortInvalid when no device stands
    // behind the number, err::PortAlreadyOpen when another program (or this
    // link) holds it, err::PermissionDenied when the user may not open it.
    // false closes it; closing a closed port does nothing.
    virtual void setPortOpen(bool open) = 0;
    // Whether the port is open; false after a failed opening, and false once
    // the port has failed (it is closed on its first error).
    virtual bool PortOpen() const = 0;

    // "baud,parity,data,stop", e.g. "115200,N,8,1". Applied at once when the
    // port is open, else at the next opening. Malformed text fails with
    // err::InvalidPropertyValue; a setting the device refuses with
    // err::SetCommStateFailed.
    virtual void setSettings(std::string_view settings) = 0;
    // Most bytes one Input returns; 0 means all that wait.
    virtual void setInputLen(std::int16_t bytes) = 0;
    // 0: no receive notifications. Nothing else is supported.
    virtual void setRThreshold(std::int16_t bytes) = 0;
    // 1: binary input. Input always yields raw bytes; 0 (text) is accepted.
    virtual void setInputMode(std::int32_t mode) = 0;

    // Setting 0 discards whatever the link still holds for sending. Bytes
    // already handed over by Output are never discarded, so clearing right
    // after Output never cuts a frame.
    virtual void setOutBufferCount(std::int16_t count) = 0;
    // Setting 0 discards every received byte not yet taken by Input.
    virtual void setInBufferCount(std::int16_t count) = 0;
    // How many received bytes wait for Input, counting those that have
    // reached the operating system. Fails as Input does.
    virtual int InBufferCount() = 0;

    // Sends every byte, in order, and returns only once all of them have
    // left the link. Fails with err::PortNotOpen, err::WriteFailed or
    // err::PortGone.
    virtual void Output(std::span<const std::uint8_t> bytes) = 0;
    // Takes up to InputLen received bytes; empty when none wait. A byte that
    // has reached the operating system is returned even if no event has been
    // processed since. Fails with err::PortNotOpen, err::ReadFailed or
    // err::PortGone.
    virtual std::vector<std::uint8_t> Input() = 0;
};

}  // namespace vq
