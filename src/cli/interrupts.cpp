#include "cli/interrupts.h"

#include <QSocketNotifier>
#include <csignal>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace vq::cli {

#ifndef _WIN32
namespace {

int g_pipe[2] = {-1, -1};

void on_signal(int signo) {
    const auto byte = static_cast<unsigned char>(signo);
    const auto written = ::write(g_pipe[1], &byte, 1);
    (void)written;  // a full pipe already holds a signal to act on
}

}  // namespace

Interrupts::Interrupts(std::function<void(int)> handler) : on_signal_(std::move(handler)) {
    std::signal(SIGPIPE, SIG_IGN);
    if (::pipe(g_pipe) != 0) return;
    for (int fd : g_pipe) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(g_pipe[1], F_SETFL, O_NONBLOCK);
    notifier_ = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
        unsigned char signo = 0;
        if (::read(g_pipe[0], &signo, 1) == 1) on_signal_(signo);
    });
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
}

Interrupts::~Interrupts() {
    if (!notifier_) return;
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    notifier_.reset();
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
}
#else
// Windows ends a console program on Ctrl-C; the port is released with it.
Interrupts::Interrupts(std::function<void(int)> handler) : on_signal_(std::move(handler)) {}
Interrupts::~Interrupts() = default;
#endif

}  // namespace vq::cli
