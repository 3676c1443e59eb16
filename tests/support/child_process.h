#pragma once
// A program run as a child process the way a shell would run it, for what
// QProcess cannot arrange: signals_at at set times, a stdout whose reader has
// gone, another user. Its output is collected from files.

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/temp_file.h"

namespace vq::test {

struct ChildRun {
    std::vector<std::string> args{};                // the program first
    std::vector<std::string> env{};                 // NAME=value, in place of this process's own
    std::vector<std::pair<int, int>> signals_at{};  // (milliseconds after the start, signal)
    bool stdout_reader_gone = false;                // stdout is a pipe nobody reads
    int as_user = -1;                               // a user (and group) id to run as; -1: as this one
};

struct ChildResult {
    bool exited = false;
    int exit_status = -1;  // when exited
    int signal = 0;        // when ended by a signal
    std::string out, err;
};

inline std::string read_whole(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline ChildResult run_child(const ChildRun& run, int timeout_ms = 60000) {
    TempDir dir;
    const std::string out = dir.file("out"), err = dir.file("err");
    int gone[2] = {-1, -1};
    if (run.stdout_reader_gone && ::pipe(gone) != 0) return {};
    std::vector<std::string> env;
    auto name_of = [](const std::string& v) { return v.substr(0, v.find('=') + 1); };
    for (char** e = environ; *e; ++e) {
        const std::string v = *e;
        if (std::none_of(run.env.begin(), run.env.end(), [&](const std::string& a) { return name_of(a) == name_of(v); }))
            env.push_back(v);
    }
    env.insert(env.end(), run.env.begin(), run.env.end());

    const pid_t pid = ::fork();
    if (pid == 0) {
        const int o = gone[1] >= 0 ? gone[1] : ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        ::dup2(o, 1);
        ::dup2(e, 2);
        if (gone[0] >= 0) ::close(gone[0]);
        if (run.as_user >= 0 && (::setgroups(0, nullptr) != 0 || ::setgid(static_cast<gid_t>(run.as_user)) != 0 ||
                                 ::setuid(static_cast<uid_t>(run.as_user)) != 0))
            ::_exit(127);
        std::vector<char*> argv, envp;
        for (const auto& a : run.args) argv.push_back(const_cast<char*>(a.c_str()));
        for (const auto& v : env) envp.push_back(const_cast<char*>(v.c_str()));
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    if (gone[0] >= 0) ::close(gone[0]), ::close(gone[1]);  // the reader is gone at once

    const auto start = std::chrono::steady_clock::now();
    auto elapsed_ms = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    };
    std::size_t next_signal = 0;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (elapsed_ms() > timeout_ms) ::kill(pid, SIGKILL);
        if (next_signal < run.signals_at.size() && elapsed_ms() >= run.signals_at[next_signal].first)
            ::kill(pid, run.signals_at[next_signal++].second);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ChildResult r;
    r.exited = WIFEXITED(status);
    r.exit_status = r.exited ? WEXITSTATUS(status) : -1;
    r.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    r.out = read_whole(out);
    r.err = read_whole(err);
    return r;
}

}  // namespace vq::test
