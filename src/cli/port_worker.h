#pragma once
// One port's uploads, on a thread of the port's own with its own link and
// clock, so that one port's waits, messages or failure never delay or end
// another's. PortRun is its face in the main thread: it starts and stops
// the thread, and hands what the uploads report to the outputs.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "cli/port_run.h"
#include "link/plain_clock.h"
#include "link/system_serial_link.h"
#include "protocol/transfer_stats.h"
#include "records/keeper.h"

namespace vq {
class SerialLink;
struct FormState;
}  // namespace vq

namespace vq::cli {

class PortRun;

// Lives in the port's thread; what the main thread asks of it comes
// through its clock.
class PortWorker final {
public:
    PortWorker(PortTarget target, RunSettings settings, PortRun& run)
        : target_(std::move(target)), settings_(std::move(settings)), run_(run),
          keeper_(settings_.records, settings_.spool) {}
    // Runs the uploads: one, or with repeat one per plugged device, until the
    // count is reached or it is stopped.
    void run();
    // As the window's Stop: the upload under way cancels; no other starts.
    void stop();
    // Closes the port at once; the upload under way fails.
    void abort();
    PlainClock& clock() { return clock_; }

private:
    void upload_once(const std::string& unit);
    // With a gate: the go for the board in place, once given; nullopt when
    // stopped or the board went first.
    std::optional<std::string> wait_for_go();
    // An upload that ends before anything is sent: the outputs hear of its
    // start and its `outcome`.
    void not_started(const UploadStart& start, UploadOutcome outcome);
    // One refused before anything is sent, failed for `ending`.
    void refused(const UploadStart& start, std::string ending);
    // The record as far as it is known at the start of an upload.
    records::UploadRecord first_record(const UploadStart& start) const;
    // Waits a quarter second at a time until `condition` holds; false when
    // stopped first.
    bool wait_until(const std::function<bool()>& condition);
    // Whether the device is there and its port opens; when it is there but
    // held or forbidden, `unopened_` says so.
    bool present_and_opens();
    bool present() const;
    // What the port's name leads to now; another value after a replug, even
    // one quicker than the looks for it.
    std::string fingerprint() const;
    // Runs `call` on the run's outputs, in the main thread.
    void post(std::function<void(PortOutput&)> call);

    PortTarget target_;
    RunSettings settings_;
    PortRun& run_;
    records::RecordKeeper keeper_;
    PlainClock clock_;
    std::string unopened_;
    unsigned unopened_looks_ = 0;
    bool stopped_ = false;
    bool aborted_ = false;  // the port of the upload under way was closed under it
    SerialLink* link_ = nullptr;  // of the upload under way
    FormState* form_ = nullptr;
};

class PortRun final {
public:
    // `wake_main` wakes the main thread's loop, from the port's thread.
    PortRun(PortTarget target, RunSettings settings, std::function<void()> wake_main = [] {});
    ~PortRun();
    PortRun(const PortRun&) = delete;
    PortRun& operator=(const PortRun&) = delete;

    const PortTarget& target() const { return target_; }
    // Hears everything, in order; added before start().
    void add_output(PortOutput* output) { outputs_.push_back(output); }
    // The figures of the upload under way (or the last one).
    const TransferStats& stats() const { return stats_; }
    const std::vector<UploadOutcome>& outcomes() const { return outcomes_; }
    // Once the port's thread has ended and everything it reported was heard.
    bool finished() const { return finished_; }

    void start();
    void stop();
    void abort();
    // With a console to follow: the worker hands over the port it left
    // open; the main thread takes it once the run has finished.
    void keep_link(std::unique_ptr<SystemSerialLink> link);
    std::unique_ptr<SystemSerialLink> take_link();

    // From the worker: queues a report, and wakes the main thread for the
    // first of a burst.
    void queue(std::function<void(PortOutput&)> call);
    // In the main thread: hands the queued reports to the outputs.
    void deliver();

private:
    class FanOut;
    PortTarget target_;
    RunSettings settings_;
    std::function<void()> wake_main_;
    TransferStats stats_;
    std::vector<PortOutput*> outputs_;
    std::unique_ptr<FanOut> fan_out_;
    std::vector<UploadOutcome> outcomes_;
    std::mutex mutex_;
    std::vector<std::function<void(PortOutput&)>> pending_;
    std::unique_ptr<SystemSerialLink> kept_link_;
    std::unique_ptr<PortWorker> worker_;
    std::thread thread_;
    std::atomic<bool> thread_done_{false};
    bool finished_ = false;
};

// Whether an ending says more in a plain line than its message does: the
// endings without a message box, and those whose message says too little.
bool ending_needs_words(const UploadResult& result);

}  // namespace vq::cli
