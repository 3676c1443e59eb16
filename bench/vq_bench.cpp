// Measures uploads against the protocol's floor: through vellquin-send to
// vellquin-device over a pty, through the window's own waits, and the
// window's start-up with its probe of COM1..COM9.
//
// The floor is what the protocol itself takes: 0.5 s before the first
// wake-up, 0.3 s after each wake-up not answered at once, 0.1 s after each
// data frame and each end of transmission. On a pty bytes take no time on
// the wire; at 115200 8N1 every 1030-byte transmission adds 89.4 ms.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "link/event_clock.h"
#include "link/port_map.h"
#include "link/qt_serial_link.h"
#include "protocol/frame.h"
#include "protocol/image_file.h"
#include "sim/pty_device.h"
#include "ui/form1.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kWireSeconds = 1030.0 * 10.0 / 115200.0;

struct Counts {
    int wakeups = 0, wakeups_answered_at_once = 0, data = 0, eots = 0;
    int transmissions() const { return wakeups + data + eots; }
    double pty_floor() const {
        return 0.5 + 0.3 * (wakeups - wakeups_answered_at_once) + 0.1 * data + 0.1 * eots;
    }
    double line_floor() const { return pty_floor() + kWireSeconds * transmissions(); }
};

struct Row {
    std::string what;
    std::size_t image = 0;
    double wall = 0, cpu = 0;
    long peak_kb = 0;
    Counts counts;
};

std::string temp_dir() {
    char name[] = "/tmp/vq-bench-XXXXXX";
    return mkdtemp(name);
}

std::string write_image(const std::string& dir, std::size_t size) {
    std::vector<char> bytes(size);
    std::mt19937 rng(static_cast<unsigned>(size));
    for (auto& b : bytes) b = static_cast<char>(rng());
    const std::string path = dir + "/image-" + std::to_string(size) + ".bin";
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

// Counts the transmissions in a --trace file.
Counts count_trace(const std::string& trace) {
    Counts c;
    std::ifstream in(trace);
    std::string line;
    bool after_wakeup = false;
    while (std::getline(in, line)) {
        if (line.find("send wake-up") != std::string::npos) {
            ++c.wakeups;
            after_wakeup = true;
            continue;
        }
        if (after_wakeup && line.find("read 0x43") != std::string::npos) ++c.wakeups_answered_at_once;
        after_wakeup = false;
        if (line.find("send block") != std::string::npos) ++c.data;
        if (line.find("send EOT") != std::string::npos) ++c.eots;
    }
    return c;
}

Row bench_programs(const std::string& dir, std::size_t size) {
    const std::string bin = VQ_BIN_DIR;
    const std::string image = write_image(dir, size);
    const std::string trace = dir + "/trace.txt";

    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe");
    const pid_t device = fork();
    if (device == 0) {
        dup2(out[1], STDOUT_FILENO);
        execl((bin + "/vellquin-device").c_str(), "vellquin-device", "-q", nullptr);
        _exit(127);
    }
    close(out[1]);
    char path[256] = {};
    for (std::size_t n = 0; n < sizeof path - 1 && read(out[0], path + n, 1) == 1 && path[n] != '\n'; ++n) {
    }
    path[std::strcspn(path, "\n")] = 0;

    Row row;
    row.what = "vellquin-send " + std::to_string(size / 1024) + " KiB";
    row.image = size;
    const auto start = Clock::now();
    const pid_t sender = fork();
    if (sender == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        execl((bin + "/vellquin-send").c_str(), "vellquin-send", "--port", path, "--trace", trace.c_str(),
              image.c_str(), nullptr);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(sender, &status, 0, &usage);
    row.wall = std::chrono::duration<double>(Clock::now() - start).count();
    kill(device, SIGTERM);
    waitpid(device, nullptr, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::fprintf(stderr, "vellquin-send failed: %d\n", status);
    row.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
              static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    row.peak_kb = usage.ru_maxrss;
    row.counts = count_trace(trace);
    return row;
}

double thread_cpu() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

class Chosen final : public vq::FileDialog {
public:
    explicit Chosen(std::string name) : name_(std::move(name)) {}
    void ShowOpen(QWidget*, std::function<void()> closed) override { closed(); }
    std::string FileName() const override { return name_; }

private:
    std::string name_;
};

class Quiet final : public vq::MessageBox {
public:
    void show(const std::string&) override {}
};

// The window's own upload: its waits and event pumping on this thread. CPU
// is this thread's alone; the simulated device runs on another.
Row bench_window(const std::string& dir, std::size_t size) {
    vq::sim::PtyDevice device;
    device.start();
    vq::QtSerialLink link(vq::PortMap(std::vector<vq::PortEntry>{{device.path(), ""}}));
    vq::EventClock clock;
    vq::LocalFileSystem files;
    Chosen dialog(write_image(dir, size));
    Quiet messages;
    vq::Form1 window({link, clock, files, dialog, &messages, nullptr});
    window.Form_Load();
    window.show();
    window.Command1_Click();

    Row row;
    row.what = "window " + std::to_string(size / 1024) + " KiB";
    row.image = size;
    const double cpu = thread_cpu();
    const auto start = Clock::now();
    window.Command2_Click();
    row.wall = std::chrono::duration<double>(Clock::now() - start).count();
    row.cpu = thread_cpu() - cpu;
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    row.peak_kb = u.ru_maxrss;
    using vq::sim::Event;
    row.counts.wakeups = device.count(Event::WakeUp);
    row.counts.data = device.count(Event::Block) + device.count(Event::RepeatedBlock) + device.count(Event::BadBlock);
    row.counts.eots = device.count(Event::EndOfTransmission);
    // The wake-up phase ends with the one wake-up whose read found the
    // start request at once.
    row.counts.wakeups_answered_at_once = row.counts.data > 0 && row.counts.wakeups <= 101 ? 1 : 0;
    if (window.last_result()->end != vq::UploadEnd::Finished) std::fprintf(stderr, "window upload did not finish\n");
    return row;
}

double bench_startup() {
    const auto start = Clock::now();
    const vq::PortMap ports = vq::PortMap::from_environment_or_system();
    vq::QtSerialLink link(ports);
    vq::EventClock clock;
    vq::LocalFileSystem files;
    Chosen dialog("");
    vq::Form1 window({link, clock, files, dialog, nullptr, &ports});
    window.Form_Load();
    window.show();
    QApplication::processEvents();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void print(const Row& r) {
    const double pty = r.counts.pty_floor();
    const double overhead = r.wall - pty;
    std::printf("| %-22s | %6d | %8.3f | %9.3f | %12.3f | %7.2f%% | %9.3f | %6.2f%% | %8.1f |\n", r.what.c_str(),
                r.counts.data, r.wall, pty, r.counts.line_floor(), 100.0 * overhead / pty,
                1000.0 * overhead / std::max(1, r.counts.data), 100.0 * r.cpu / r.wall,
                static_cast<double>(r.peak_kb) / 1024.0);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
    const std::string dir = temp_dir();

    std::printf("| %-22s | %6s | %8s | %9s | %12s | %8s | %9s | %7s | %8s |\n", "run", "frames", "wall s",
                "pty floor", "115200 floor", "overhead", "ms/frame", "CPU", "peak MiB");
    std::printf("|------------------------|--------|----------|-----------|--------------|----------|-----------|---------|----------|\n");
    print(bench_programs(dir, 64 * 1024));
    if (!quick) print(bench_programs(dir, 1024 * 1024));
    print(bench_window(dir, 64 * 1024));

    std::vector<double> starts;
    for (int i = 0; i < 5; ++i) starts.push_back(bench_startup());
    std::sort(starts.begin(), starts.end());
    std::printf("\nwindow start-up with the probe of COM1..COM9: median %.1f ms (of 5: %.1f .. %.1f ms)\n",
                starts[2], starts.front(), starts.back());
    std::filesystem::remove_all(dir);
    return 0;
}
