#include "link/latency_timer.h"

#include <fstream>

namespace vq {

std::optional<int> latency_timer_ms(const std::filesystem::path& sys_class_tty, const std::string& tty) {
    const std::filesystem::path device = sys_class_tty / tty / "device";
    for (const auto& file : {device / "latency_timer", device / ".." / "latency_timer"}) {
        std::ifstream in(file);
        int ms = 0;
        if (in >> ms && ms >= 0) return ms;
    }
    return std::nullopt;
}

}  // namespace vq
