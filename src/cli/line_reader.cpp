#include "cli/line_reader.h"

#include <iostream>
#include <mutex>
#include <thread>
#include <utility>

namespace vq::cli {

struct LineReader::Shared {
    std::mutex mutex;
    std::vector<std::string> lines;
    bool closed = false;  // no one wakes or takes any more
};

LineReader::LineReader(std::function<void()> wake) : shared_(std::make_shared<Shared>()) {
    // Detached: a read of stdin cannot be broken off, and the program may
    // end while one waits.
    std::thread([shared = shared_, wake = std::move(wake)] {
        for (std::string line; std::getline(std::cin, line);) {
            std::lock_guard lock(shared->mutex);
            if (shared->closed) return;
            shared->lines.push_back(std::move(line));
            wake();
        }
    }).detach();
}

LineReader::~LineReader() {
    std::lock_guard lock(shared_->mutex);
    shared_->closed = true;
}

std::vector<std::string> LineReader::take() {
    std::lock_guard lock(shared_->mutex);
    return std::exchange(shared_->lines, {});
}

}  // namespace vq::cli
