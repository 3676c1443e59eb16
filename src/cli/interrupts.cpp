#include "cli/interrupts.h"

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
    (void)!::write(g_pipe[1], &byte, 1);  // a full pipe already holds a signal to act on
}

void handle(int signo, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signo, &action, nullptr);
}

}  // namespace

Interrupts::Interrupts() {
    handle(SIGPIPE, SIG_IGN);
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    handle(SIGINT, on_signal);
    handle(SIGTERM, on_signal);
}

Interrupts::~Interrupts() {
    if (g_pipe[0] < 0) return;
    handle(SIGINT, SIG_DFL);
    handle(SIGTERM, SIG_DFL);
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

int Interrupts::fd() const { return g_pipe[0]; }

int Interrupts::take() {
    unsigned char signo = 0;
    return g_pipe[0] >= 0 && ::read(g_pipe[0], &signo, 1) == 1 ? signo : 0;
}
#else
// Windows ends a console program on Ctrl-C; the port is released with it.
Interrupts::Interrupts() = default;
Interrupts::~Interrupts() = default;
int Interrupts::fd() const { return -1; }
int Interrupts::take() { return 0; }
#endif

}  // namespace vq::cli
