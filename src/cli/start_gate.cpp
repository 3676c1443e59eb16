#include "cli/start_gate.h"

namespace vq::cli {

void StartGate::open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    given_.reset();
}

std::optional<std::string> StartGate::take() {
    std::lock_guard lock(mutex_);
    auto unit = std::move(given_);
    given_.reset();
    if (unit) open_ = false;
    return unit;
}

void StartGate::close() {
    std::lock_guard lock(mutex_);
    open_ = false;
    given_.reset();
}

bool StartGate::give(std::string unit) {
    std::lock_guard lock(mutex_);
    if (!open_ || given_) return false;
    given_ = std::move(unit);
    return true;
}

}  // namespace vq::cli
