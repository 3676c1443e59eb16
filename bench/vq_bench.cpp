// Measures uploads against their floor: through vellquin-send to
// vellquin-device over a pty, with fixed pacing and paced by replies, with a
// device that answers at once and one that takes 5 ms; through the window's
// own waits; and the window's start-up with its probe of COM1..COM9.
//
// With fixed pacing the floor is what the protocol itself waits: 0.5 s
// before the first wake-up, 0.3 s after each wake-up not answered at once,
// 0.1 s after each data frame and each end of transmission. Paced by
// replies it is the 0.5 s pause and the device's own reply time for every
// transmission. On a pty bytes take no time on the wire; at 115200 8N1
// every 1030-byte transmission adds 89.4 ms, which gives the figure for a
// real line: the floor, the wire time and the overhead measured here.

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
#include <map>
#include <string>
#include <vector>

#include "link/event_clock.h"
#include "link/port_map.h"
#include "link/port_sources.h"
#include "link/posix_serial_link.h"
#include "protocol/frame.h"
#include "protocol/image_file.h"
#include "sim/pty_device.h"
#include "ui/qt/form1.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kWireSeconds = 1030.0 * 10.0 / 115200.0;

struct Counts {
    int wakeups = 0, wakeups_answered_at_once = 0, data = 0, eots = 0;
    int transmissions() const { return wakeups + data + eots; }
    std::vector<double> block_times;  // when each data frame went out (or arrived)
    // The median time from one data frame to the next.
    double block_period() const {
        std::vector<double> gaps;
        for (std::size_t i = 1; i < block_times.size(); ++i) gaps.push_back(block_times[i] - block_times[i - 1]);
        if (gaps.empty()) return 0;
        std::nth_element(gaps.begin(), gaps.begin() + static_cast<std::ptrdiff_t>(gaps.size() / 2), gaps.end());
        return gaps[gaps.size() / 2];
    }
};

struct Row {
    std::string what;
    std::size_t image = 0;
    vq::Pace pace = vq::Pace::Fixed;
    int delay_ms = 0;  // the device's own reply time
    double wall = 0, cpu = 0;
    long peak_kb = 0;
    Counts counts;

    double floor() const {
        const Counts& c = counts;
        if (pace == vq::Pace::Reply) return 0.5 + delay_ms / 1000.0 * c.transmissions();
        return 0.5 + 0.3 * (c.wakeups - c.wakeups_answered_at_once) + 0.1 * c.data + 0.1 * c.eots;
    }
    double overhead() const { return wall - floor(); }
    // What a block costs above what the protocol or the device takes for it.
    double block_cost() const {
        return counts.block_period() - (pace == vq::Pace::Reply ? delay_ms / 1000.0 : 0.1);
    }
    // The same upload on a real 115200 8N1 line.
    double at_115200() const { return floor() + kWireSeconds * counts.transmissions() + overhead(); }
};

using vq::pace_word;

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
        if (line.find("send block") != std::string::npos) {
            ++c.data;
            c.block_times.push_back(std::stod(line));
        }
        if (line.find("send EOT") != std::string::npos) ++c.eots;
    }
    return c;
}

Row bench_programs(const std::string& dir, std::size_t size, vq::Pace pace, int delay_ms) {
    const std::string bin = VQ_BIN_DIR;
    const std::string image = write_image(dir, size);
    const std::string trace = dir + "/trace.txt";

    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe");
    const pid_t device = fork();
    if (device == 0) {
        dup2(out[1], STDOUT_FILENO);
        execl((bin + "/vellquin-device").c_str(), "vellquin-device", "-q", "--reply-delay",
              std::to_string(delay_ms).c_str(), nullptr);
        _exit(127);
    }
    close(out[1]);
    char path[256] = {};
    for (std::size_t n = 0; n < sizeof path - 1 && read(out[0], path + n, 1) == 1 && path[n] != '\n'; ++n) {
    }
    path[std::strcspn(path, "\n")] = 0;

    Row row;
    row.what = "vellquin-send " + std::to_string(size / 1024) + " KiB " + pace_word(pace) + ", device " +
               std::to_string(delay_ms) + " ms";
    row.image = size;
    row.pace = pace;
    row.delay_ms = delay_ms;
    const auto start = Clock::now();
    const pid_t sender = fork();
    if (sender == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        execl((bin + "/vellquin-send").c_str(), "vellquin-send", "--port", path, "--trace", trace.c_str(),
              "--pace", pace_word(pace), image.c_str(), nullptr);
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

// Starts vellquin-device with `args` and reads the paths it prints.
std::vector<std::string> start_devices(std::vector<std::string> args, int count, pid_t& pid) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe");
    pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        std::vector<char*> argv;
        args.insert(args.begin(), std::string(VQ_BIN_DIR) + "/vellquin-device");
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    std::vector<std::string> paths;
    std::string line;
    char ch;
    while (static_cast<int>(paths.size()) < count && read(out[0], &ch, 1) == 1) {
        if (ch != '\n') {
            line += ch;
            continue;
        }
        paths.push_back(line);
        line.clear();
    }
    return paths;
}

// Many devices at once: each upload against its own floor, the sender's CPU
// and memory. With `unplug_one`, the first device is pulled out half-way.
void bench_many(const std::string& dir, int devices, std::size_t size, bool unplug_one) {
    const std::string image = write_image(dir, size);
    const std::string logs = dir + "/logs-" + std::to_string(unplug_one);
    pid_t many = 0, single = 0;
    std::vector<std::string> paths;
    if (unplug_one) {
        paths = start_devices({"-q", "--unplug-after", "3.6"}, 1, single);
        const auto rest = start_devices({"-q", "--count", std::to_string(devices - 1)}, devices - 1, many);
        paths.insert(paths.end(), rest.begin(), rest.end());
    } else {
        paths = start_devices({"-q", "--count", std::to_string(devices)}, devices, many);
    }
    const std::string json = dir + "/many.json";
    const auto start = Clock::now();
    const pid_t sender = fork();
    if (sender == 0) {
        const int out = open(json.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, STDOUT_FILENO);
        std::vector<std::string> args{std::string(VQ_BIN_DIR) + "/vellquin-send", "--json", "--log", logs};
        for (const auto& p : paths) args.insert(args.end(), {"--port", p});
        args.push_back(image);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(sender, &status, 0, &usage);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    for (pid_t p : {many, single})
        if (p > 0) kill(p, SIGTERM), waitpid(p, nullptr, 0);
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;

    // Each upload's own time (from its end event) against its own floor
    // (from its log).
    std::map<std::string, std::pair<std::string, double>> ends;  // port -> outcome, seconds
    std::ifstream in(json);
    for (std::string line; std::getline(in, line);) {
        if (line.find("\"event\":\"end\"") == std::string::npos) continue;
        auto field = [&](const std::string& key) {
            const auto at = line.find("\"" + key + "\":") + key.size() + 3;
            return line.substr(at, line.find_first_of(",}", at) - at);
        };
        std::string port = field("port"), outcome = field("outcome");
        ends[port.substr(1, port.size() - 2)] = {outcome.substr(1, outcome.size() - 2), std::stod(field("seconds"))};
    }
    double worst = 0;
    int finished = 0;
    for (const auto& entry : std::filesystem::directory_iterator(logs)) {
        const std::string log = entry.path().string();
        for (const auto& [port, end] : ends) {
            std::string name = port.substr(5);  // "/dev/pts/3": logged as "..._pts_3_finished.log"
            std::replace(name.begin(), name.end(), '/', '_');
            const std::string suffix = "_" + name + "_finished.log";
            if (log.size() < suffix.size() || log.compare(log.size() - suffix.size(), suffix.size(), suffix) != 0)
                continue;
            Row row;
            row.counts = count_trace(log);
            row.wall = end.second;
            worst = std::max(worst, (row.wall - row.floor()) / row.floor());
            ++finished;
        }
    }
    std::string unplugged = "-";
    if (unplug_one) unplugged = ends[paths.front()].first;
    std::printf("| %d x %zu KiB%s | %8.3f | %2d of %2d | %7.2f%% | %6.2f%% | %8.1f | %-10s |\n", devices, size / 1024,
                unplug_one ? ", first unplugged at 3.6 s" : "", wall, finished, devices, 100.0 * worst,
                100.0 * cpu / wall, static_cast<double>(usage.ru_maxrss) / 1024.0, unplugged.c_str());
    std::fflush(stdout);
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
    void ShowOpen(std::function<void()> closed) override { closed(); }
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
Row bench_window(const std::string& dir, std::size_t size, vq::Pace pace) {
    vq::sim::PtyDevice device;
    Counts arrivals;
    device.set_log([&](vq::sim::Event e, const std::string&) {
        if (e == vq::sim::Event::Block)
            arrivals.block_times.push_back(std::chrono::duration<double>(Clock::now().time_since_epoch()).count());
    });
    device.start();
    vq::PosixSerialLink link(vq::PortMap(std::vector<vq::PortEntry>{{device.path(), ""}}));
    vq::EventClock clock;
    clock.wake_on([&link] { return link.handle(); });
    vq::LocalFileSystem files;
    Chosen dialog(write_image(dir, size));
    Quiet messages;
    vq::Form1 window({link, clock, files, dialog, &messages, nullptr});
    window.Form_Load();
    window.show();
    window.Command1_Click();
    window.ReplyPacing->setChecked(pace == vq::Pace::Reply);

    Row row;
    row.what = "window " + std::to_string(size / 1024) + " KiB " + pace_word(pace);
    row.image = size;
    row.pace = pace;
    const double cpu = thread_cpu();
    const auto start = Clock::now();
    window.Command2_Click();
    row.wall = std::chrono::duration<double>(Clock::now() - start).count();
    row.cpu = thread_cpu() - cpu;
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    row.peak_kb = u.ru_maxrss;
    using vq::sim::Event;
    row.counts.block_times = arrivals.block_times;
    row.counts.wakeups = device.count(Event::WakeUp);
    row.counts.data = device.count(Event::Block) + device.count(Event::RepeatedBlock) + device.count(Event::BadBlock);
    row.counts.eots = device.count(Event::EndOfTransmission);
    // The wake-up phase ends with the one wake-up whose read found the
    // start request at once.
    row.counts.wakeups_answered_at_once = row.counts.data > 0 && row.counts.wakeups <= 101 ? 1 : 0;
    if (window.last_result()->end != vq::UploadEnd::Finished) std::fprintf(stderr, "window upload did not finish\n");
    return row;
}

// The probe opens every port it finds; so that no port of this machine is
// touched, it finds three simulated devices and six numbers with none.
double bench_startup(const std::string& devices) {
    const auto start = Clock::now();
    vq::PortBook ports;
    ports.update(vq::ListPortSource::of_text(devices)->present());
    vq::PosixSerialLink link(ports.map());
    vq::EventClock clock;
    clock.wake_on([&link] { return link.handle(); });
    vq::LocalFileSystem files;
    Chosen dialog("");
    vq::Form1 window({link, clock, files, dialog, nullptr, &ports});
    window.Form_Load();
    window.show();
    QApplication::processEvents();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void print(const Row& r) {
    std::printf("| %-38s | %6d | %8.3f | %8.3f | %9.3f | %9.3f | %6.2f%% | %8.1f | %10.1f | %6.2f%% |\n",
                r.what.c_str(), r.counts.data, r.wall, r.floor(), 1000.0 * r.overhead() / std::max(1, r.counts.data),
                1000.0 * r.block_cost(), 100.0 * r.cpu / r.wall, static_cast<double>(r.peak_kb) / 1024.0,
                r.at_115200(), 100.0 * r.cpu / r.at_115200());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
    const std::string dir = temp_dir();
    using vq::Pace;
    auto many = [&] {
        std::printf("\n| %-38s | %8s | %8s | %8s | %7s | %8s | %-10s |\n", "devices at once", "wall s", "finished",
                    "worst over floor", "CPU", "peak MiB", "unplugged");
        for (bool unplug : {false, true}) bench_many(dir, 16, 64 * 1024, unplug);
    };
    if (argc > 1 && std::string(argv[1]) == "--many-only") {
        many();
        return 0;
    }
    if (argc > 1 && std::string(argv[1]) == "--window-only") {
        for (Pace pace : {Pace::Fixed, Pace::Reply}) print(bench_window(dir, 64 * 1024, pace));
        return 0;
    }

    std::printf("| %-38s | %6s | %8s | %8s | %9s | %9s | %7s | %8s | %10s | %7s |\n", "run", "frames", "wall s",
                "floor s", "ms/frame", "ms/block", "CPU", "peak MiB", "115200 s", "CPU at 115200");
    std::printf("|----------------------------------------|--------|----------|----------|-----------|-----------|"
                "---------|----------|------------|---------|\n");
    struct Pair {
        std::size_t size;
        int delay_ms;
        Row fixed, reply;
    };
    std::vector<Pair> pairs;
    for (std::size_t size : {std::size_t{64} << 10, std::size_t{1} << 20}) {
        if (quick && size > (64u << 10)) continue;
        for (int delay : {0, 5}) {
            Pair p{size, delay, bench_programs(dir, size, Pace::Fixed, delay), bench_programs(dir, size, Pace::Reply, delay)};
            print(p.fixed);
            print(p.reply);
            pairs.push_back(p);
        }
    }
    for (Pace pace : {Pace::Fixed, Pace::Reply}) print(bench_window(dir, 64 * 1024, pace));

    std::printf("\n| %-28s | %9s | %9s | %6s | %14s | %14s | %6s |\n", "fixed against reply", "fixed s", "reply s",
                "ratio", "fixed 115200 s", "reply 115200 s", "ratio");
    std::printf("|------------------------------|-----------|-----------|--------|----------------|----------------|"
                "--------|\n");
    for (const Pair& p : pairs) {
        const std::string what = std::to_string(p.size >> 10) + " KiB, device " + std::to_string(p.delay_ms) + " ms";
        std::printf("| %-28s | %9.3f | %9.3f | %5.1fx | %14.1f | %14.1f | %5.2fx |\n", what.c_str(), p.fixed.wall,
                    p.reply.wall, p.fixed.wall / p.reply.wall, p.fixed.at_115200(), p.reply.at_115200(),
                    p.fixed.at_115200() / p.reply.at_115200());
    }

    many();

    vq::sim::PtyDevice a, b, c;
    const std::string devices = a.path() + ":" + b.path() + ":" + c.path();
    std::vector<double> starts;
    for (int i = 0; i < 5; ++i) starts.push_back(bench_startup(devices));
    std::sort(starts.begin(), starts.end());
    std::printf("\nwindow start-up with the probe of COM1..COM9 (three devices): median %.1f ms (of 5: %.1f .. %.1f ms)\n",
                starts[2], starts.front(), starts.back());
    std::filesystem::remove_all(dir);
    return 0;
}
