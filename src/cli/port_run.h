#pragma once
// What the command line runs on one port, and what it hears of it. The
// uploads run on a thread of the port's own; everything they report is
// passed to the main thread, where the outputs hear it in order.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "cli/start_gate.h"
#include "link/port_map.h"
#include "protocol/upload.h"
#include "records/store.h"
#include "station/stamp.h"

namespace vq::cli {

// A port as the user named it, and what that name stands for.
struct PortTarget {
    std::string name;    // as given: COM3, /dev/ttyUSB0, /dev/serial/by-id/...
    PortMap ports;       // what the COM numbers stand for
    std::string choice;  // the port choice, as the window's port list would hold it
    std::string slot{};  // a station's slot, by the recipe's name for it
    // A station's slot that starts on a scan or a button: each board in
    // place waits for its go, and the go's unit is the upload's.
    std::shared_ptr<StartGate> gate{};
    std::string device() const;
};

// The same for every port.
struct RunSettings {
    std::string file;
    Pace pace = Pace::Fixed;
    Protocol protocol = Protocol::Device;
    double start_wait = kDefaultStartWait;  // seconds
    std::optional<double> timeout;  // seconds per upload
    std::string trace;              // a trace file; one port only
    std::string log_dir;            // a log per upload and summary.csv
    bool repeat = false;            // a jig: wait for a device, upload, wait until it has gone, again
    int count = 0;                  // with repeat: uploads per port; 0 until stopped
    // Each start names the file's SHA-256 and the device's USB identity, as
    // JSON and the logs record them; reading the file twice is for them only.
    bool record = false;
    std::string send_name;  // ymodem: the name block 0 gives; empty for the file's own
    std::string command;    // typed at the receiver's console first; empty for none
    std::string prompt = kDefaultPrompt;  // the console's prompt, a regular expression
    bool protocol_from_receiver = false;
    bool verify_crc32 = false;
    std::vector<std::string> then;  // typed after a checked transfer, in order
    std::string fail_on = kDefaultFailOn;  // what a failed command shows
    bool console = false;  // one port: it stays open, joined to the terminal, once the upload has ended
    records::RecordsTarget records{};  // where each upload's record goes
    std::string spool{};               // where it waits while the server cannot be reached
    std::string station{}, operator_name{}, unit{};
    std::optional<station::SerialStamp> stamp{};  // a station's serials, stamped into each image
    // A station's image, by its recipe's SHA-256: a file changed since the
    // recipe was read is not sent. Empty: any.
    std::string image_sha256{};
};

struct UploadStart {
    std::string device{};
    std::string identity{};   // the USB identity, where the system knows it (recorded runs)
    std::int64_t size = -1;   // -1 when the file cannot be found
    std::string sha256{};     // of the file, when it could be read (recorded runs)
    Pace pace = Pace::Fixed;
    std::string tty{};        // the tty the device path leads to, when that is another name
    Protocol protocol = Protocol::Device;
    std::string unit{};       // the serial stamped into this unit's image
};

struct UploadOutcome {
    UploadResult result{};
    std::string port_cause{};  // why the port could not be opened
    bool timed_out = false;
    std::string timeout_words{};  // "timed out after 12 s", when it did
    bool interrupted = false;   // a second Ctrl-C closed the port under it
    int exit_status = 0;     // what this upload's ending is as vellquin-send's exit status
    std::string ending{};      // in plain words
    double wall_seconds = 0;
    std::string record_id{};     // the upload's record, when one was kept
    std::string record_where{};  // where it was committed
    std::string record_note{};   // one line when it is not where the records go
    // One word for the ending, for file names and records: "timed_out" when
    // --timeout stopped it, else outcome_word of the result.
    const char* word() const { return timed_out ? "timed_out" : outcome_word(result.end); }
};

// What an output hears of one port, in the main thread: everything the
// upload reports (as an UploadObserver) and the following.
class PortOutput : public UploadObserver {
public:
    virtual void started(const UploadStart&) {}
    // What the window shows in a message box.
    virtual void message(const std::string& text) { (void)text; }
    // A plain line the user should read: a timeout, say.
    virtual void note(const std::string& text) { (void)text; }
    // A jig waits: `what` is "device" (for one to be plugged in) or
    // "removal" (of the one just flashed); `text` says it in words.
    virtual void waiting(const std::string& what, const std::string& text) { (void)what, (void)text; }
    // The file's SHA-256 is being computed, before the start.
    virtual void hashing() {}
    virtual void ended(const UploadOutcome&) {}
};

}  // namespace vq::cli
