#include "cli/interrupts.h"

#include <csignal>

#ifdef _WIN32
#include <windows.h>

#include <deque>
#include <mutex>
#else
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

void catch_signal(int signo, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signo, &action, nullptr);
}

}  // namespace

Interrupts::Interrupts() {
    catch_signal(SIGPIPE, SIG_IGN);
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    catch_signal(SIGINT, on_signal);
    catch_signal(SIGTERM, on_signal);
    // A closed terminal stops the upload as SIGTERM does: the cancel goes
    // out, the adapter is given back as it was found, the lock is removed.
    catch_signal(SIGHUP, on_signal);
}

Interrupts::~Interrupts() {
    if (g_pipe[0] < 0) return;
    catch_signal(SIGINT, SIG_DFL);
    catch_signal(SIGTERM, SIG_DFL);
    catch_signal(SIGHUP, SIG_DFL);
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

WaitHandle Interrupts::handle() const { return g_pipe[0]; }

int Interrupts::take() {
    unsigned char signo = 0;
    return g_pipe[0] >= 0 && ::read(g_pipe[0], &signo, 1) == 1 ? signo : 0;
}
#else
namespace {

std::mutex g_mutex;
std::deque<int> g_requests;
HANDLE g_ready = nullptr;  // signalled while requests wait
HANDLE g_done = nullptr;   // set once the program may end

BOOL WINAPI console_handler(DWORD type) { return on_console_control(type) ? TRUE : FALSE; }

}  // namespace

bool on_console_control(unsigned long type) {
    const bool closing = type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT;
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && !closing) return false;
    {
        const std::lock_guard lock(g_mutex);
        if (!g_ready) return false;
        g_requests.push_back(type == CTRL_C_EVENT ? SIGINT : SIGTERM);
        SetEvent(g_ready);
    }
    // Returning from these ends the program at once.
    if (closing) WaitForSingleObject(g_done, 5000);
    return true;
}

Interrupts::Interrupts() {
    const std::lock_guard lock(g_mutex);
    g_ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!g_done) g_done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ResetEvent(g_done);
    SetConsoleCtrlHandler(console_handler, TRUE);
}

Interrupts::~Interrupts() {
    SetConsoleCtrlHandler(console_handler, FALSE);
    SetEvent(g_done);
    const std::lock_guard lock(g_mutex);
    CloseHandle(g_ready);
    g_ready = nullptr;
    g_requests.clear();
    // g_done stays: a handler of a closing console may still wait on it.
}

WaitHandle Interrupts::handle() const { return g_ready; }

int Interrupts::take() {
    const std::lock_guard lock(g_mutex);
    if (g_requests.empty()) return 0;
    const int signo = g_requests.front();
    g_requests.pop_front();
    if (!g_requests.empty()) SetEvent(g_ready);
    return signo;
}
#endif

}  // namespace vq::cli
