#pragma once
// A real PostgreSQL server from Debian's package, for the tests: its own
// cluster in a fresh folder, listening only on a Unix socket there (no TCP
// port), run as an unprivileged user (the server refuses root; as root the
// tests use nobody, who is given the folder), and stopped by its pid.

#include <fcntl.h>
#include <glob.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace vq::test {

class PostgresServer {
public:
    PostgresServer() {
        char pattern[] = "/tmp/vq-pg-XXXXXX";
        if (!::mkdtemp(pattern)) throw std::runtime_error("no folder for the server");
        dir_ = pattern;
        if (::geteuid() == 0 && ::chown(dir_.c_str(), kNobody, kNogroup) != 0)
            throw std::runtime_error("cannot give " + dir_ + " to nobody");
        if (run({bin("initdb"), "-D", dir_ + "/data", "-U", "vq", "--auth=trust", "-E", "UTF8", "--no-sync"}) != 0)
            throw std::runtime_error("initdb failed in " + dir_);
        start();
    }
    ~PostgresServer() {
        stop();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // A libpq URI of the server's database "postgres".
    std::string uri() const { return "postgresql:///postgres?host=" + dir_ + "&user=vq"; }

    void start() {
        pid_ = spawn({bin("postgres"), "-D", dir_ + "/data", "-k", dir_, "-c", "listen_addresses=", "-c", "fsync=off"});
        const std::string socket = dir_ + "/.s.PGSQL.5432";
        for (int i = 0; i < 200 && !std::filesystem::exists(socket); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        // The socket comes a moment before the server takes connections.
        for (int i = 0; i < 100 && run({bin("pg_isready"), "-q", "-h", dir_, "-U", "vq"}) != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    // A fast shutdown: clients are disconnected.
    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGINT);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }
    // The server stops answering, its connections open: the postmaster
    // and every backend it started.
    void pause() { signal_all(SIGSTOP); }
    void resume() { signal_all(SIGCONT); }

private:
    void signal_all(int signo) const {
        if (pid_ <= 0) return;
        ::kill(pid_, signo);
        for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
            const std::string name = entry.path().filename().string();
            if (name.find_first_not_of("0123456789") != std::string::npos) continue;
            std::ifstream stat(entry.path() / "stat");
            std::string line;
            std::getline(stat, line);
            // pid (comm) state ppid ...: the name may hold spaces, the last ')' ends it.
            const auto close = line.rfind(')');
            if (close == std::string::npos) continue;
            char state = 0;
            long parent = 0;
            if (std::sscanf(line.c_str() + close + 1, " %c %ld", &state, &parent) == 2 && parent == pid_) {
                const long child = std::stol(name);
                if (child > 0) ::kill(static_cast<pid_t>(child), signo);
            }
        }
    }

    static constexpr uid_t kNobody = 65534;
    static constexpr gid_t kNogroup = 65534;

    static std::string bin(const std::string& program) {
        glob_t found{};
        std::string path = program;
        if (::glob(("/usr/lib/postgresql/*/bin/" + program).c_str(), 0, nullptr, &found) == 0 && found.gl_pathc > 0)
            path = found.gl_pathv[found.gl_pathc - 1];  // the newest
        ::globfree(&found);
        return path;
    }

    // Runs `args` as the server's user; its pid.
    static pid_t spawn(const std::vector<std::string>& args) {
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        const bool root = ::geteuid() == 0;
        const pid_t pid = ::fork();
        if (pid != 0) return pid;
        if (root && (::setgroups(0, nullptr) != 0 || ::setgid(kNogroup) != 0 || ::setuid(kNobody) != 0)) ::_exit(126);
        const int quiet = ::open("/dev/null", O_WRONLY);
        ::dup2(quiet, 1), ::dup2(quiet, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    static int run(const std::vector<std::string>& args) {
        const pid_t pid = spawn(args);
        int status = 0;
        if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string dir_;
    pid_t pid_ = -1;
};

}  // namespace vq::test
