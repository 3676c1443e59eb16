#pragma once
// What the serial links over each system's own calls share: the numbers the
// ports have, the port chosen, the line settings, the properties that only
// have to be valid, and the rule that an error that means the device went
// away (err::PortGone) closes the port at once, after which every operation
// fails with that error until the port is opened again. Any other error
// leaves the port open: the caller decides whether to close it.

#include <optional>
#include <string>

#include "link/drain.h"
#include "link/line_settings.h"
#include "link/port_map.h"
#include "protocol/failure.h"
#include "protocol/serial_link.h"

namespace vq {

class SystemLinkBase : public SerialLink {
public:
    const PortMap& ports() const { return ports_; }
    void setPorts(PortMap ports) { ports_ = std::move(ports); }
    // The device the link has open (the one it was opened on, whatever the
    // port list has said since), or would open next.
    std::string device() const;

    void setCommPort(std::int16_t port) override;
    std::int16_t CommPort() const override { return comm_port_; }
    void setPortOpen(bool open) override;
    void setSettings(std::string_view settings) override;
    void setInputLen(std::int16_t bytes) override;
    void setRThreshold(std::int16_t bytes) override;
    void setInputMode(std::int32_t mode) override;
    // Output returns once the system has sent everything: nothing waits.
    void setOutBufferCount(std::int16_t count) override;
    // While Output waits for its bytes to leave (at most 2 s, for a device
    // that stopped taking data), it passes the time with `pause`, which may
    // process events and says when the user has stopped: Output then returns
    // at once, its bytes still on their way. Without one it sleeps.
    void set_drain_pause(DrainPause pause) { drain_pause_ = std::move(pause); }

protected:
    explicit SystemLinkBase(PortMap ports) : ports_(std::move(ports)) {}
    // Opens `device` for this program, or throws; closes it (closed: nothing).
    virtual void open_port(const std::string& device) = 0;
    virtual void close_port() = 0;
    // Puts the settings on the open port, or throws.
    virtual void apply(const LineSettings& settings) = 0;
    // Settings set on an open port are an upload's (a probe only opens and
    // closes): the port may be tuned for it here, and given back as it was
    // found when it closes.
    virtual void tune_for_transfer() {}
    // Whether the device behind the open port went away (unplugged).
    virtual bool device_went_away() const { return false; }

    // Fails with the error that closed the port, or err::PortNotOpen.
    void require_open() const;
    // The port fails with `failure`; a device that went away closes it at
    // once, and it stays failed.
    [[noreturn]] void break_with(const Failure& failure);
    std::int16_t input_len() const { return input_len_; }
    const DrainPause& drain_pause() const { return drain_pause_; }

private:
    PortMap ports_;
    DrainPause drain_pause_;
    std::int16_t comm_port_ = 1;
    std::int16_t input_len_ = 0;
    LineSettings settings_;
    std::optional<Failure> broken_;
    std::string open_device_;  // what the port was opened on; empty while closed
};

}  // namespace vq
