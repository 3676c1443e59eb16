#pragma once
// An upload's record, committed once its ending is known and before anyone
// is told: just before a message box says how it ended, or, for endings
// without one, when the upload returns. Nothing of it runs during the
// blocks.

#include <chrono>
#include <functional>
#include <optional>

#include "protocol/transfer_stats.h"
#include "records/keeper.h"
#include "records/record.h"

namespace vq::records {

// How an upload ended, as the record keeps it.
struct Ending {
    std::string outcome;  // the word --json uses
    int exit_status = 0;  // vellquin-send's
    std::string text;     // in words
};

class RecordWriter final : public TransferStats {
public:
    // `start` has what is known at the start, its log_file the log's name
    // without its ending's word; `ending_of` says how a result ends.
    RecordWriter(RecordKeeper& keeper, UploadRecord start, std::function<Ending(const UploadResult&)> ending_of)
        : keeper_(keeper), record_(std::move(start)), ending_of_(std::move(ending_of)) {}

    void on_ending(const UploadResult& result) override { write(result, ending_of_(result)); }
    // Once the upload has returned, with how it ended: commits the record
    // unless that was done. Where it went; nullopt when records are off.
    const std::optional<RecordKeeper::Kept>& finish(const UploadResult& result, const Ending& ending);
    const UploadRecord& record() const { return record_; }

private:
    void write(const UploadResult& result, const Ending& ending);

    RecordKeeper& keeper_;
    UploadRecord record_;
    std::function<Ending(const UploadResult&)> ending_of_;
    const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    std::optional<RecordKeeper::Kept> kept_;
};

// The record of an upload about to start: its id and time, this station,
// the tool's version, and the image's path (absolute), size and SHA-256.
UploadRecord starting_record(const std::string& image, std::int64_t size, const std::string& sha256);

// `start` as kept while its upload runs, where a serial is handed out: the
// ending's record, of the same id, replaces it; one left so names an upload
// whose program stopped before it ended.
UploadRecord opening_record(UploadRecord start);

}  // namespace vq::records
