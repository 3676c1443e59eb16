#include "cli/console_bridge.h"

#include <exception>
#include <vector>

namespace vq::cli {

BridgeEnding bridge_console(SerialLink& link, const std::function<WaitHandle()>& link_handle, Terminal& terminal,
                            WaitHandle stop_handle, const std::function<bool()>& stopped) {
    bool keys_open = true;
    try {
        link.setInputLen(0);  // whatever waits, at once
        for (;;) {
            if (stopped()) return {BridgeEnding::Stopped, {}};
            bool busy = false;
            if (keys_open) {
                const std::optional<std::string> keys = terminal.keys();
                keys_open = keys.has_value();
                if (keys && !keys->empty()) {
                    const std::size_t leave = keys->find(kLeaveConsole);
                    const std::string typed = keys->substr(0, leave);
                    link.Output({reinterpret_cast<const std::uint8_t*>(typed.data()), typed.size()});
                    if (leave != std::string::npos) return {BridgeEnding::Left, {}};
                    busy = true;
                }
            }
            const std::vector<std::uint8_t> got = link.Input();
            if (!got.empty()) {
                terminal.show(got);
                busy = true;
            }
            if (busy) continue;
            const WaitHandle handles[] = {link_handle(), stop_handle};
            terminal.wait(handles, 1.0);
        }
    } catch (const std::exception& e) {
        return {BridgeEnding::PortFailed, e.what()};
    }
}

}  // namespace vq::cli
