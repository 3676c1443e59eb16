#pragma once
// The port joined to the terminal once an upload has ended, so that the
// user sees the board start what it received and can type to it: every key
// goes to the board as it is typed, every byte the board sends is shown as
// it came. Ctrl-] leaves. Input that ends (a file or a closed pipe) stops
// the keys, not the showing: that goes on until a stop request.

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "link/wake_pipe.h"
#include "protocol/serial_link.h"

namespace vq::cli {

// The key that leaves the console.
inline constexpr char kLeaveConsole = 0x1D;  // Ctrl-]

// What the bridge needs of the terminal.
class Terminal {
public:
    virtual ~Terminal() = default;
    // Sleeps until a key waits, one of `handles` is ready or `seconds` have
    // passed.
    virtual void wait(std::span<const WaitHandle> handles, double seconds) = 0;
    // What was typed since the last call, at once (empty for nothing);
    // nullopt once the input has ended.
    virtual std::optional<std::string> keys() = 0;
    virtual void show(std::span<const std::uint8_t> bytes) = 0;
};

// The terminal of this process: its keys raw (no echo, no line editing,
// Ctrl-C a key like any other) until it is destroyed.
std::unique_ptr<Terminal> open_terminal();

struct BridgeEnding {
    enum Kind { Left, Stopped, PortFailed } kind;
    std::string words;  // what failed, for PortFailed
};

// Joins the open `link` to `terminal` until Ctrl-] is typed, `stopped`
// holds (checked whenever `stop_handle` is ready and at least every second)
// or the port fails. `link_handle` is what to wait on for the port's bytes.
BridgeEnding bridge_console(SerialLink& link, const std::function<WaitHandle()>& link_handle, Terminal& terminal,
                            WaitHandle stop_handle, const std::function<bool()>& stopped);

}  // namespace vq::cli
