#pragma once
// A simulated device behind a pseudo-terminal. The sender opens the slave
// path like any serial port; the device reads the master side, feeds a
// Receiver and writes its answers back. It keeps a descriptor of the slave
// open itself, so the sender can close and reopen the port between uploads.

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/receiver.h"

namespace vq::sim {

class PtyDevice {
public:
    // Opens the pty in raw mode. Throws std::runtime_error when it cannot.
    explicit PtyDevice(DeviceBehaviour behaviour = {});
    ~PtyDevice();
    PtyDevice(const PtyDevice&) = delete;
    PtyDevice& operator=(const PtyDevice&) = delete;

    const std::string& path() const { return path_; }

    // Answers this much later than it would (a slow device).
    void set_reply_delay(std::chrono::milliseconds delay) { delay_ = delay; }
    // Answers each reply with these extra bytes behind it (a chatty device).
    void set_trailing_bytes(std::vector<std::uint8_t> bytes);

    // Serves on a thread of its own until stop() or destruction.
    void start();
    void stop();
    // Serves on the calling thread until `running` turns false.
    void serve(const std::atomic<bool>& running);
    // The device vanishes: the master side closes, as on an unplug.
    void hang_up();

    // Copies of what the receiver holds, safe while the device runs.
    std::vector<std::vector<std::uint8_t>> images() const;
    int count(Event e) const;
    int transmissions() const;
    // Receives each event line; called on the serving thread.
    void set_log(std::function<void(Event, const std::string&)> log);
    // Receives each image taken to the end; called on the serving thread.
    void set_on_image(std::function<void(const std::vector<std::uint8_t>&)> on_image);

private:
    void serve_once(int timeout_ms);
    // Once the line has been quiet a while: drops a frame cut short, and
    // says what the receiver says unasked.
    void speak_when_quiet();

    int master_ = -1;
    int slave_ = -1;
    std::string path_;
    std::chrono::milliseconds delay_{0};
    std::vector<std::uint8_t> trailing_;
    std::function<void(const std::vector<std::uint8_t>&)> on_image_;
    mutable std::mutex mutex_;
    Receiver receiver_;
    std::chrono::steady_clock::time_point last_heard_or_said_{};
    std::atomic<bool> running_{false};
    std::thread thread_;
};

}  // namespace vq::sim
