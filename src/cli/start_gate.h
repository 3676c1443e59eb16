#pragma once
// What a board in its slot waits for before its upload starts, when a
// station starts uploads on a scan or a button: the main thread gives the
// go (with the unit's scanned serial, if any), the port's thread takes it.
// A go given while no board asks for one is refused, so that no serial
// meant for one board is ever used for the next.

#include <mutex>
#include <optional>
#include <string>

namespace vq::cli {

class StartGate {
public:
    explicit StartGate(std::string asking) : asking_(std::move(asking)) {}
    // What the waiting board needs, in words: "scan the unit's serial".
    const std::string& asking() const { return asking_; }

    // The port's thread: a board is in place and asks; any go from before is forgotten.
    void open();
    // The port's thread: the go, once given; the gate is shut again.
    std::optional<std::string> take();
    // The port's thread: the board went away unstarted.
    void close();

    // The main thread: false when no board asks now.
    bool give(std::string unit);

private:
    std::mutex mutex_;
    std::string asking_;
    bool open_ = false;
    std::optional<std::string> given_;
};

}  // namespace vq::cli
