#include "sim/pty_device.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <stdexcept>

namespace vq::sim {

PtyDevice::PtyDevice(DeviceBehaviour behaviour) : receiver_(behaviour) {
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    cfsetispeed(&raw, B115200);
    cfsetospeed(&raw, B115200);
    if (openpty(&master_, &slave_, name, &raw, nullptr) != 0)
        throw std::runtime_error(std::string("openpty: ") + std::strerror(errno));
    path_ = name;
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
}

PtyDevice::~PtyDevice() {
    stop();
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
}

void PtyDevice::set_trailing_bytes(std::vector<std::uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    trailing_ = std::move(bytes);
}

void PtyDevice::set_log(std::function<void(Event, const std::string&)> log) {
    std::lock_guard lock(mutex_);
    receiver_.on_event = std::move(log);
}

void PtyDevice::set_on_image(std::function<void(const std::vector<std::uint8_t>&)> on_image) {
    std::lock_guard lock(mutex_);
    on_image_ = std::move(on_image);
}

void PtyDevice::start() {
    if (running_.exchange(true)) return;
    thread_ = std::thread([this] { serve(running_); });
}

void PtyDevice::stop() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
}

void PtyDevice::serve(const std::atomic<bool>& running) {
    while (running) serve_once(20);
}

void PtyDevice::hang_up() {
    std::lock_guard lock(mutex_);
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
    master_ = slave_ = -1;
}

void PtyDevice::serve_once(int timeout_ms) {
    int fd;
    {
        std::lock_guard lock(mutex_);
        fd = master_;
    }
    if (fd < 0) {
        ::usleep(static_cast<useconds_t>(timeout_ms) * 1000);
        return;
    }
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0 || !(p.revents & POLLIN)) return speak_when_quiet();
    std::uint8_t buffer[4096];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got <= 0) return;
    last_heard_or_said_ = std::chrono::steady_clock::now();

    std::vector<std::uint8_t> reply;
    std::optional<std::vector<std::uint8_t>> image;
    std::function<void(const std::vector<std::uint8_t>&)> on_image;
    {
        std::lock_guard lock(mutex_);
        const std::size_t images = receiver_.images().size();
        reply = receiver_.feed({buffer, static_cast<std::size_t>(got)});
        if (!reply.empty()) reply.insert(reply.end(), trailing_.begin(), trailing_.end());
        if (receiver_.images().size() > images) image = receiver_.images().back();
        on_image = on_image_;
    }
    if (image && on_image) on_image(*image);
    if (reply.empty()) return;
    if (delay_.count() > 0) std::this_thread::sleep_for(delay_);
    std::lock_guard lock(mutex_);
    if (master_ >= 0) {
        const ssize_t wrote = ::write(master_, reply.data(), reply.size());
        (void)wrote;  // a vanished sender needs no answer
    }
}

void PtyDevice::speak_when_quiet() {
    // Longer than the sender's pause between wake-ups, shorter than its wait for a start.
    constexpr auto kQuiet = std::chrono::milliseconds(350);
    // No sender stops for a second in the middle of a frame.
    constexpr auto kFrameTimeout = std::chrono::seconds(1);
    const auto now = std::chrono::steady_clock::now();
    if (now - last_heard_or_said_ < kQuiet) return;
    std::lock_guard lock(mutex_);
    if (now - last_heard_or_said_ >= kFrameTimeout) receiver_.drop_partial_frame();
    const std::vector<std::uint8_t> said = receiver_.idle();
    if (said.empty() || master_ < 0) return;
    last_heard_or_said_ = now;
    const ssize_t wrote = ::write(master_, said.data(), said.size());
    (void)wrote;  // a vanished sender needs no answer
}

std::vector<std::vector<std::uint8_t>> PtyDevice::images() const {
    std::lock_guard lock(mutex_);
    return receiver_.images();
}

int PtyDevice::count(Event e) const {
    std::lock_guard lock(mutex_);
    return receiver_.count(e);
}

int PtyDevice::transmissions() const {
    std::lock_guard lock(mutex_);
    return receiver_.transmissions();
}

}  // namespace vq::sim
