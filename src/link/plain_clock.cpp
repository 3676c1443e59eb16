#include "link/plain_clock.h"

namespace vq {

double PlainClock::now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void PlainClock::post(std::function<void()> task) {
    {
        const std::lock_guard lock(mutex_);
        posted_.push_back(std::move(task));
    }
    posted_any_ = true;
    posted_pipe_.wake();
}

void PlainClock::run_posted() {
    std::vector<std::function<void()>> tasks;
    if (posted_any_.exchange(false)) {
        const std::lock_guard lock(mutex_);
        tasks.swap(posted_);
    }
    for (const auto& task : tasks) task();
    if (alarm_at_ && now() >= *alarm_at_) {
        const auto task = std::move(alarm_);
        clear_alarm();
        task();
    }
}

void PlainClock::set_alarm(double time, std::function<void()> task) {
    alarm_at_ = time;
    alarm_ = std::move(task);
}

void PlainClock::clear_alarm() {
    alarm_at_.reset();
    alarm_ = nullptr;
}

}  // namespace vq
