// The terminal on Unix: stdin switched to raw input while the console runs.

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "cli/console_bridge.h"

namespace vq::cli {
namespace {

class PosixTerminal final : public Terminal {
public:
    PosixTerminal() {
        if (::tcgetattr(STDIN_FILENO, &before_) != 0) return;
        termios raw = before_;
        ::cfmakeraw(&raw);
        raw.c_oflag = before_.c_oflag;  // the board's line ends are shown as the terminal showed them before
        raw_ = ::tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
    }
    ~PosixTerminal() override {
        if (raw_) ::tcsetattr(STDIN_FILENO, TCSANOW, &before_);
    }

    void wait(std::span<const WaitHandle> handles, double seconds) override {
        std::vector<pollfd> fds;
        if (!ended_) fds.push_back({STDIN_FILENO, POLLIN, 0});
        for (const WaitHandle h : handles)
            if (h != kNoWaitHandle) fds.push_back({h, POLLIN, 0});
        ::poll(fds.data(), fds.size(), static_cast<int>(seconds * 1000));
    }

    std::optional<std::string> keys() override {
        if (ended_) return std::nullopt;
        pollfd in{STDIN_FILENO, POLLIN, 0};
        if (::poll(&in, 1, 0) <= 0) return std::string();
        char buffer[256];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) return std::string();
        if (n <= 0) {
            ended_ = true;
            return std::nullopt;
        }
        return std::string(buffer, static_cast<std::size_t>(n));
    }

    void show(std::span<const std::uint8_t> bytes) override {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;  // a reader gone: nothing more can be shown
            done += static_cast<std::size_t>(n);
        }
    }

private:
    termios before_{};
    bool raw_ = false;
    bool ended_ = false;
};

}  // namespace

std::unique_ptr<Terminal> open_terminal() { return std::make_unique<PosixTerminal>(); }

}  // namespace vq::cli
