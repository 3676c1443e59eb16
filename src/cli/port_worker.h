#pragma once
// One port's uploads, on a thread of the port's own with its own link,
// clock and event loop, so that one port's waits, messages or failure never
// delay or end another's. PortRun is its face in the main thread: it starts
// and stops the thread, and hands what the uploads report to the outputs.

#include <QObject>
#include <QThread>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "cli/port_run.h"
#include "protocol/transfer_stats.h"

namespace vq {
class SerialLink;
struct FormState;
}  // namespace vq

namespace vq::cli {

class PortRun;

// Lives in the port's thread.
class PortWorker final : public QObject {
public:
    PortWorker(PortTarget target, RunSettings settings, PortRun& run)
        : target_(std::move(target)), settings_(std::move(settings)), run_(run) {}
    // Runs the uploads: one, or with repeat one per plugged device, until the
    // count is reached or it is stopped.
    void run();
    // As the window's Stop: the upload under way cancels; no other starts.
    void stop();
    // Closes the port at once; the upload under way fails.
    void abort();

private:
    void upload_once();
    // Waits in this thread's event loop, a quarter second at a time, until
    // `condition` holds; false when stopped first.
    bool wait_until(const std::function<bool()>& condition);
    bool present_and_opens() const;
    bool present() const;
    // What the port's name leads to now; another value after a replug, even
    // one quicker than the looks for it.
    std::string fingerprint() const;
    // Runs `call` on the run's outputs, in the main thread.
    void post(std::function<void(PortOutput&)> call);

    PortTarget target_;
    RunSettings settings_;
    PortRun& run_;
    bool stopped_ = false;
    bool aborted_ = false;  // the port of the upload under way was closed under it
    SerialLink* link_ = nullptr;  // of the upload under way
    FormState* form_ = nullptr;
};

class PortRun final : public QObject {
public:
    PortRun(PortTarget target, RunSettings settings);
    ~PortRun() override;

    const PortTarget& target() const { return target_; }
    // Hears everything, in order; added before start().
    void add_output(PortOutput* output) { outputs_.push_back(output); }
    // The figures of the upload under way (or the last one).
    const TransferStats& stats() const { return stats_; }
    const std::vector<UploadOutcome>& outcomes() const { return outcomes_; }
    bool finished() const { return finished_; }
    std::function<void()> on_finished;

    void start();
    void stop();
    void abort();

    // From the worker: queues a report; true when the main thread must be
    // woken to deliver it.
    bool queue(std::function<void(PortOutput&)> call);
    // In the main thread: hands the queued reports to the outputs.
    void deliver();
    void worker_done();

private:
    class FanOut;
    PortTarget target_;
    RunSettings settings_;
    TransferStats stats_;
    std::vector<PortOutput*> outputs_;
    std::unique_ptr<FanOut> fan_out_;
    std::vector<UploadOutcome> outcomes_;
    std::mutex mutex_;
    std::vector<std::function<void(PortOutput&)>> pending_;
    QThread thread_;
    PortWorker* worker_ = nullptr;
    bool finished_ = false;
};

// Whether an ending says more in a plain line than its message does: the
// endings without a message box, and those whose message says too little.
bool ending_needs_words(const UploadResult& result);

}  // namespace vq::cli
