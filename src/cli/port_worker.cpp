#include "cli/port_worker.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "cli/outputs.h"
#include "records/file_hash.h"
#include "records/record_writer.h"
#include "station/stamp.h"
#include "cli/send_ports.h"
#include "cli/trace_writer.h"
#include "link/port_opening.h"
#include "link/port_sources.h"
#include "link/system_serial_link.h"
#include "protocol/failure.h"
#include "protocol/host.h"
#include "protocol/image_file.h"
#include "protocol/report.h"
#include "protocol/wait.h"

namespace vq::cli {
namespace {

// The command line has no bar or percentage box; the outputs show progress
// from what the upload reports.
class NoDisplays final : public Displays {
public:
    void set_progress(float) override {}
    void set_percent_text(const std::string&) override {}
};

class ForwardedMessages final : public MessageBox {
public:
    explicit ForwardedMessages(std::function<void(const std::string&)> to) : to_(std::move(to)) {}
    void show(const std::string& text) override { to_(text); }

private:
    std::function<void(const std::string&)> to_;
};

// Hands every report of the upload to the main thread, in order.
class Forwarder final : public UploadObserver {
public:
    explicit Forwarder(std::function<void(std::function<void(PortOutput&)>)> post) : post_(std::move(post)) {}
    void on_phase(Phase p, int a) override {
        post_([=](PortOutput& o) { o.on_phase(p, a); });
    }
    void on_block(std::int32_t i, std::int32_t t, std::uint8_t n) override {
        post_([=](PortOutput& o) { o.on_block(i, t, n); });
    }
    void on_progress(int percent) override {
        post_([=](PortOutput& o) { o.on_progress(percent); });
    }
    void on_transmission(Transmission k, std::span<const std::uint8_t> frame, double time) override {
        post_([k, copy = std::vector<std::uint8_t>(frame.begin(), frame.end()), time](PortOutput& o) {
            o.on_transmission(k, copy, time);
        });
    }
    void on_reply(const Reply& r, double time) override {
        post_([=](PortOutput& o) { o.on_reply(r, time); });
    }
    void on_pacing(Pace p, const std::string& why) override {
        post_([=](PortOutput& o) { o.on_pacing(p, why); });
    }
    void on_check(Check c, std::size_t block_size) override {
        post_([=](PortOutput& o) { o.on_check(c, block_size); });
    }
    void on_hint(Hint h) override {
        post_([=](PortOutput& o) { o.on_hint(h); });
    }
    void on_console(bool typed, const std::string& text, double time) override {
        post_([=](PortOutput& o) { o.on_console(typed, text, time); });
    }
    void on_ending(const UploadResult& r) override {
        post_([=](PortOutput& o) { o.on_ending(r); });
    }

private:
    std::function<void(std::function<void(PortOutput&)>)> post_;
};

std::int64_t size_of(const std::string& file) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path_from_utf8(file), ec);
    return ec ? -1 : static_cast<std::int64_t>(size);
}

// The tty a device path leads to, when that is another name: a jig's link
// (/tmp/jig) or a /dev/serial/by-id name.
std::string tty_behind(const std::string& device) {
    std::error_code ec;
    const auto real = std::filesystem::canonical(path_from_utf8(device), ec);
    const std::string tty = ec ? std::string() : utf8_from_path(real);
    return tty == device ? std::string() : tty;
}

// "/dev/pts/7 = ..." as the trace names the port: a COM number only when
// the port was named by it.
std::string port_words(const PortTarget& t, const std::string& tty) {
    const std::string device = t.device();
    if (is_com_name(t.name)) return t.choice + (device.empty() ? "" : " = " + device) + (tty.empty() ? "" : " = " + tty);
    return t.name + (tty.empty() ? "" : " = " + tty);
}

// A port's name as part of a file name: "/dev/serial/by-id/usb-X" becomes
// "serial_by-id_usb-X", "COM3" stays.
std::string file_safe(const std::string& port) {
    std::string name = port.rfind("/dev/", 0) == 0 ? port.substr(5) : port;
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch)) && ch != '-' && ch != '.') ch = '_';
    return name;
}

}  // namespace

std::string PortTarget::device() const {
    const PortEntry* e = ports.entry(port_number_of(choice));
    return e ? e->device : std::string();
}

bool ending_needs_words(const UploadResult& r) {
    return is_silent(r.end) || r.end == UploadEnd::InvalidPort || r.end == UploadEnd::PortUnavailable ||
           r.end == UploadEnd::FileNotFound;
}

// ---- the worker, in the port's thread -------------------------------------

void PortWorker::post(std::function<void(PortOutput&)> call) {
    run_.queue(std::move(call));
}

void PortWorker::run() {
    const std::string device = target_.device();
    const std::string where = target_.name + (device.empty() || device == target_.name ? "" : " (" + device + ")");
    for (int made = 0; !stopped_;) {
        if (settings_.repeat) {
            // Said again whenever why it cannot start changes: no board, or
            // one whose port cannot be opened (held by another program, say).
            std::optional<std::string> said;
            const bool there = wait_until([&] {
                if (present_and_opens()) return true;
                if (said != unopened_) {
                    said = unopened_;
                    post([what = unopened_.empty() ? "device" : "opening",
                          text = unopened_.empty() ? "waiting for a device on " + where : unopened_](PortOutput& o) {
                        o.waiting(what, text);
                    });
                }
                return false;
            });
            if (!there) break;
        }
        std::string unit = settings_.unit;
        if (target_.gate) {
            const auto go = wait_for_go();
            if (!go) continue;  // stopped, or the board went unstarted
            unit = *go;
        }
        const std::string flashed = fingerprint();
        upload_once(unit);
        ++made;
        if (!settings_.repeat || made == settings_.count) break;
        // Gone, or gone and back already: another device node or link.
        const auto taken_away = [&] { return !present() || fingerprint() != flashed; };
        if (!taken_away()) {
            post([](PortOutput& o) { o.waiting("removal", "waiting for the device to be taken away"); });
            if (!wait_until(taken_away)) break;
        }
    }
}

void PortWorker::stop() {
    stopped_ = true;
    if (form_) form_->stop_request = 1;
}

void PortWorker::abort() {
    stop();
    aborted_ = link_ != nullptr;
    try {
        if (link_) link_->setPortOpen(false);
    } catch (const std::exception&) {
    }
}

std::optional<std::string> PortWorker::wait_for_go() {
    StartGate& gate = *target_.gate;
    gate.open();
    post([words = gate.asking()](PortOutput& o) { o.waiting("go", words); });
    std::optional<std::string> go;
    wait_until([&] { return (go = gate.take()) || !present(); });
    if (!go) gate.close();
    return go;
}

bool PortWorker::wait_until(const std::function<bool()>& condition) {
    while (!stopped_) {
        if (condition()) return true;
        wait_seconds(0.25f, clock_);
    }
    return false;
}

bool PortWorker::present() const { return device_present(target_.device()); }

std::string PortWorker::fingerprint() const {
#ifdef _WIN32
    return {};
#else
    // The link and the node it leads to, as made: a replug makes new ones.
    const std::string device = target_.device();
    struct stat link_info {}, node_info {};
    if (::lstat(device.c_str(), &link_info) != 0 || ::stat(device.c_str(), &node_info) != 0) return {};
    auto stamp = [](const struct stat& s) {
        return std::to_string(s.st_ino) + "." + std::to_string(s.st_ctim.tv_sec) + "." + std::to_string(s.st_ctim.tv_nsec);
    };
    return stamp(link_info) + "/" + stamp(node_info) + "/" + std::to_string(node_info.st_rdev);
#endif
}

bool PortWorker::present_and_opens() {
    if (!present()) {
        unopened_.clear();
        return false;
    }
    // A held port is tried every 2 s, not every quarter: naming its holder
    // reads every program's open files.
    if (!unopened_.empty() && ++unopened_looks_ % 8 != 0) return false;
    unopened_.clear();
    SystemSerialLink probe(target_.ports);
    try {
        probe.setCommPort(static_cast<std::int16_t>(port_number_of(target_.choice)));
        probe.setPortOpen(true);
        probe.setPortOpen(false);
        return true;
    } catch (const Failure& e) {
        // Held, or not this user's to open: a board there all the same.
        if (e.number() == err::PortAlreadyOpen || e.number() == err::PermissionDenied) unopened_ = e.what();
        return false;
    } catch (const std::exception&) {
        return false;
    }
}

records::UploadRecord PortWorker::first_record(const UploadStart& start) const {
    records::UploadRecord r = records::starting_record(settings_.file, start.size, start.sha256);
    if (!settings_.station.empty()) r.station = settings_.station;
    r.operator_name = settings_.operator_name;
    r.port = target_.name;
    r.slot = target_.slot;
    r.tty = start.tty.empty() ? start.device : start.tty;
    r.adapter = start.identity;
    r.unit = start.unit;
    r.protocol = protocol_word(settings_.protocol);
    r.pace = pace_word(settings_.pace);
    return r;
}

void PortWorker::not_started(const UploadStart& start, UploadOutcome outcome) {
    outcome.wall_seconds = 0;
    post([start, outcome](PortOutput& o) {
        o.started(start);
        o.ended(outcome);
    });
}

void PortWorker::refused(const UploadStart& start, std::string ending) {
    UploadOutcome outcome;
    outcome.result.end = UploadEnd::Failed;
    outcome.exit_status = exit_code::kFailed;
    outcome.ending = std::move(ending);
    not_started(start, outcome);
}

void PortWorker::upload_once(const std::string& unit) {
    // --timeout bounds the whole of it: hashing, opening, the upload.
    using Clock = std::chrono::steady_clock;
    const auto started_at = Clock::now();
    const std::optional<Clock::time_point> deadline_at =
        settings_.timeout ? std::optional(started_at + std::chrono::duration_cast<Clock::duration>(
                                                           std::chrono::duration<double>(*settings_.timeout)))
                          : std::nullopt;
    char timeout_words[64] = "";
    if (settings_.timeout) std::snprintf(timeout_words, sizeof timeout_words, "timed out after %g s", *settings_.timeout);
    const std::string device = target_.device();
    const bool record = settings_.record;
    UploadStart start{device, record ? usb_identity_of(device) : std::string(), size_of(settings_.file), {},
                      settings_.pace, tty_behind(device), settings_.protocol, unit};
    bool timed_out = false;
    // A file too large to send is refused by the upload at once, unhashed.
    if ((record || !settings_.image_sha256.empty()) && start.size <= kLargestImage) {
        post([](PortOutput& o) { o.hashing(); });
        const records::FileHash hash = records::sha256_of(settings_.file, [&] {
            clock_.run_posted();  // a stop, from the main thread
            timed_out = deadline_at && Clock::now() >= *deadline_at;
            return !stopped_ && !timed_out;
        });
        start.sha256 = hash.hex;
        if (hash.stopped) {
            UploadOutcome outcome;
            outcome.result.end = UploadEnd::StoppedWaiting;
            outcome.timed_out = timed_out;
            outcome.timeout_words = timed_out ? timeout_words : "";
            outcome.exit_status = timed_out ? exit_code::kTimedOut : exit_code::kStopped;
            outcome.ending = std::string(timed_out ? timeout_words : "stopped") + " while hashing the file; nothing was sent";
            return not_started(start, outcome);
        }
        if (!settings_.image_sha256.empty() && hash.hex != settings_.image_sha256)
            return refused(start, settings_.file + " has SHA-256 " +
                                      (hash.hex.empty() ? std::string("unreadable") : hash.hex) +
                                      " now, not the recipe's: nothing was sent");
    }
    // The unit's serial, from the counter in the records, before anything
    // is sent; the same transaction records the upload as started, so that
    // a serial handed out is on record whatever happens next.
    records::UploadRecord first = first_record(start);
    if (settings_.stamp) {
        std::string why;
        std::vector<std::uint8_t> image;
        try {
            image = LocalFileSystem().open_image(settings_.file)->read_all();
        } catch (const std::exception&) {
            // the upload finds the file gone too, and says so
        }
        // Changed since the recipe was read: no serial is used up on it.
        if (!image.empty())
            why = station::unstampable(settings_.file, static_cast<std::int64_t>(image.size()), *settings_.stamp);
        if (why.empty()) {
            try {
                keeper_.next_number(settings_.stamp->counter(), settings_.stamp->first, [&](std::int64_t number) {
                    const auto text = station::serial_text(*settings_.stamp, number, &why);
                    if (!text) throw records::StoreError(records::StoreError::Failed, why);
                    first.unit = *text;
                    if (!image.empty())
                        first.sent_sha256 = records::sha256_hex(station::stamped(image, *settings_.stamp, *text));
                    return records::opening_record(first);
                });
            } catch (const records::StoreError& e) {
                why = e.what();
                first.unit.clear();
            }
        }
        if (first.unit.empty()) return refused(start, "no serial for this unit, so nothing was sent: " + why);
        start.unit = first.unit;
    }
    const std::string serial = settings_.stamp ? first.unit : std::string();
    post([start](PortOutput& o) { o.started(start); });

    const TraceHeader header{"vellquin-send " VQ_VERSION, port_words(target_, start.tty), "", settings_.file,
                             start.size, {}, settings_.protocol};
    std::unique_ptr<TraceWriter> trace, log;
    if (!settings_.trace.empty())
        if (std::FILE* f = fopen_utf8(settings_.trace, "w")) trace = std::make_unique<TraceWriter>(f, header);
    std::string log_path;
    if (!settings_.log_dir.empty()) {
        log_path = settings_.log_dir + "/" + local_time("%Y%m%d-%H%M%S") + "_" + file_safe(target_.name);
        if (std::FILE* f = fopen_utf8(log_path + ".partial", "w")) {
            TraceHeader h = header;
            h.more = {"sha256 " + (start.sha256.empty() ? std::string("unknown") : start.sha256),
                      "identity " + (start.identity.empty() ? std::string("none known") : start.identity)};
            if (const std::string latency = latency_words(device); !latency.empty()) h.more.push_back(latency);
            log = std::make_unique<TraceWriter>(f, h);
        }
    }

    auto kept = std::make_unique<SystemSerialLink>(target_.ports);
    SystemSerialLink& link = *kept;
    PlainClock& clock = clock_;
    clock.wake_on([&link] { return link.handle(); });
    NoDisplays displays;
    LocalFileSystem local_files;
    std::optional<station::StampedFiles> stamped_files;
    if (!serial.empty()) stamped_files.emplace(local_files, *settings_.stamp, serial);
    FileSystem& files = stamped_files ? static_cast<FileSystem&>(*stamped_files) : local_files;
    FormState form;
    ForwardedMessages messages([this](const std::string& text) { post([text](PortOutput& o) { o.message(text); }); });
    Forwarder forward([this](std::function<void(PortOutput&)> call) { post(std::move(call)); });
    std::string port_cause;
    // How a result ends, in the outputs' words and exit status.
    const auto outcome_of = [&](const UploadResult& r) {
        UploadOutcome o;
        o.result = r;
        o.port_cause = port_cause;
        o.timed_out = timed_out;
        o.timeout_words = timed_out ? timeout_words : "";
        o.wall_seconds = std::chrono::duration<double>(Clock::now() - started_at).count();
        o.exit_status = exit_code_for(r);
        if (timed_out && o.exit_status == exit_code::kStopped) o.exit_status = exit_code::kTimedOut;
        o.ending = r.end != UploadEnd::InvalidPort ? describe_end(r, port_cause)
                   : target_.choice.empty()        ? std::string("no serial port found")
                                                   : "'" + target_.choice + "' names no port 1 to 9";
        return o;
    };
    const auto ending_of = [](const UploadOutcome& o) { return records::Ending{o.word(), o.exit_status, o.ending}; };
    if (std::error_code ec; !log_path.empty())
        first.log_file = utf8_from_path(std::filesystem::absolute(path_from_utf8(log_path), ec));
    records::RecordWriter on_record(keeper_, std::move(first),
                                    [&](const UploadResult& r) { return ending_of(outcome_of(r)); });
    ObserverList observers;
    observers.add(&on_record);  // first: committed before anyone hears of the ending
    observers.add(&forward);
    if (trace) observers.add(trace.get());
    if (log) observers.add(log.get());
    link.set_drain_pause(pause_heeding(clock, form.stop_request));
    link_ = &link;
    form_ = &form;
    aborted_ = false;
    if (stopped_) form.stop_request = 1;

    if (deadline_at) {
        const double left = std::chrono::duration<double>(*deadline_at - Clock::now()).count();
        clock.set_alarm(clock.now() + left, [&] {
            timed_out = true;
            const std::string note = std::string(timeout_words) + "; stopping the upload";
            post([note](PortOutput& o) { o.note(note); });
            form.stop_request = 1;
        });
    }

    for (TraceWriter* t : {trace.get(), log.get()})
        if (t) t->start_clock(clock.now());  // the opening is the upload's first step

    const UploadContext context{link,
                                clock,
                                displays,
                                messages,
                                files,
                                form,
                                [&] { return init_serial_port(target_.choice, link, messages, &port_cause); },
                                &observers,
                                settings_.pace,
                                settings_.protocol,
                                settings_.start_wait,
                                [&] {
                                    return init_serial_port(target_.choice, link, messages, &port_cause,
                                                            Waiting::Keep);
                                },
                                settings_.send_name,
                                settings_.command,
                                settings_.prompt,
                                settings_.protocol_from_receiver,
                                settings_.verify_crc32 ? records::crc32_of : std::function<std::uint32_t(std::span<const std::uint8_t>)>(),
                                settings_.then,
                                settings_.fail_on,
                                settings_.console};
    UploadOutcome outcome;
    outcome.result = run_upload(context, settings_.file, settings_.file);
    clock.clear_alarm();
    clock.wake_on(nullptr);
    link_ = nullptr;
    form_ = nullptr;

    outcome = outcome_of(outcome.result);
    const UploadResult& r = outcome.result;
    if (aborted_ && r.end == UploadEnd::Failed) {
        // The second Ctrl-C closed the port: no fault of the device's.
        outcome.interrupted = true;
        outcome.exit_status = exit_code::kStopped;
        outcome.ending = "interrupted " +
                         (r.block_index >= 0 ? "during block " + std::to_string(r.block_index + 1)
                                             : std::string("before the first block")) +
                         "; the port was closed";
    }
    if (const auto& committed = on_record.finish(r, ending_of(outcome))) {
        outcome.record_id = on_record.record().id;
        outcome.record_where = committed->where;
        outcome.record_note = committed->note;
    }
    if (trace) trace->finish(r, outcome.ending, outcome.exit_status);
    if (log) {
        log->finish(r, outcome.ending, outcome.exit_status);
        log.reset();
        std::error_code ec;
        std::filesystem::rename(path_from_utf8(log_path + ".partial"), path_from_utf8(log_path + "_" + outcome.word() + ".log"), ec);
    }
    post([outcome](PortOutput& o) { o.ended(outcome); });
    if (settings_.console && link.PortOpen()) {
        link.set_drain_pause({});  // it heeded this upload's stop
        run_.keep_link(std::move(kept));
    }
}

// ---- its face in the main thread ------------------------------------------

class PortRun::FanOut final : public PortOutput {
public:
    explicit FanOut(PortRun& run) : run_(run) {}
    void on_phase(Phase p, int a) override {
        run_.stats_.on_phase(p, a);
        for (auto* o : run_.outputs_) o->on_phase(p, a);
    }
    void on_block(std::int32_t i, std::int32_t t, std::uint8_t n) override {
        run_.stats_.on_block(i, t, n);
        for (auto* o : run_.outputs_) o->on_block(i, t, n);
    }
    void on_progress(int percent) override {
        run_.stats_.on_progress(percent);
        for (auto* o : run_.outputs_) o->on_progress(percent);
    }
    void on_transmission(Transmission k, std::span<const std::uint8_t> f, double t) override {
        run_.stats_.on_transmission(k, f, t);
        for (auto* o : run_.outputs_) o->on_transmission(k, f, t);
    }
    void on_reply(const Reply& r, double t) override {
        run_.stats_.on_reply(r, t);
        for (auto* o : run_.outputs_) o->on_reply(r, t);
    }
    void on_pacing(Pace p, const std::string& why) override {
        run_.stats_.on_pacing(p, why);
        for (auto* o : run_.outputs_) o->on_pacing(p, why);
    }
    void on_check(Check c, std::size_t block_size) override {
        for (auto* o : run_.outputs_) o->on_check(c, block_size);
    }
    void on_hint(Hint h) override {
        run_.stats_.on_hint(h);
        for (auto* o : run_.outputs_) o->on_hint(h);
    }
    void on_console(bool typed, const std::string& text, double time) override {
        for (auto* o : run_.outputs_) o->on_console(typed, text, time);
    }
    void on_ending(const UploadResult& r) override {
        for (auto* o : run_.outputs_) o->on_ending(r);
    }
    void started(const UploadStart& s) override {
        run_.stats_ = TransferStats();
        for (auto* o : run_.outputs_) o->started(s);
    }
    void message(const std::string& text) override {
        for (auto* o : run_.outputs_) o->message(text);
    }
    void note(const std::string& text) override {
        for (auto* o : run_.outputs_) o->note(text);
    }
    void waiting(const std::string& what, const std::string& text) override {
        for (auto* o : run_.outputs_) o->waiting(what, text);
    }
    void hashing() override {
        for (auto* o : run_.outputs_) o->hashing();
    }
    void ended(const UploadOutcome& outcome) override {
        run_.outcomes_.push_back(outcome);
        for (auto* o : run_.outputs_) o->ended(outcome);
    }

private:
    PortRun& run_;
};

PortRun::PortRun(PortTarget target, RunSettings settings, std::function<void()> wake_main)
    : target_(std::move(target)),
      settings_(std::move(settings)),
      wake_main_(std::move(wake_main)),
      fan_out_(std::make_unique<FanOut>(*this)) {}

PortRun::~PortRun() {
    abort();
    if (thread_.joinable()) thread_.join();
}

void PortRun::start() {
    worker_ = std::make_unique<PortWorker>(target_, settings_, *this);
    thread_ = std::thread([this] {
        worker_->run();
        thread_done_ = true;
        wake_main_();
    });
}

void PortRun::keep_link(std::unique_ptr<SystemSerialLink> link) {
    const std::lock_guard<std::mutex> lock(mutex_);
    kept_link_ = std::move(link);
}

std::unique_ptr<SystemSerialLink> PortRun::take_link() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return std::move(kept_link_);
}

void PortRun::stop() {
    if (worker_ && !thread_done_) worker_->clock().post([w = worker_.get()] { w->stop(); });
}

void PortRun::abort() {
    if (worker_ && !thread_done_) worker_->clock().post([w = worker_.get()] { w->abort(); });
}

void PortRun::queue(std::function<void(PortOutput&)> call) {
    bool first = false;
    {
        const std::lock_guard lock(mutex_);
        pending_.push_back(std::move(call));
        first = pending_.size() == 1;
    }
    // Reports come in bursts (a frame, its answer, the next block): the main
    // thread is woken once for each burst, not for each report.
    if (first) wake_main_();
}

void PortRun::deliver() {
    const bool ended = thread_done_;  // before the last reports are taken
    std::vector<std::function<void(PortOutput&)>> calls;
    {
        const std::lock_guard lock(mutex_);
        calls.swap(pending_);
    }
    for (const auto& call : calls) call(*fan_out_);
    if (ended && !finished_) {
        thread_.join();
        finished_ = true;
    }
}

}  // namespace vq::cli
