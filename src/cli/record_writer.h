#pragma once
// An upload's record, committed once its ending is known and before anyone
// is told: just before a message box says how it ended, or, for endings
// without one, when the upload returns. Nothing of it runs during the
// blocks.

#include <chrono>
#include <functional>
#include <optional>

#include "cli/port_run.h"
#include "protocol/transfer_stats.h"
#include "records/keeper.h"
#include "records/record.h"

namespace vq::cli {

class RecordWriter final : public TransferStats {
public:
    // `start` has what is known at the start, its log_file the log's name
    // without its ending's word; `outcome_of` says how a result ends, as the
    // outputs will say it.
    RecordWriter(records::RecordKeeper& keeper, records::UploadRecord start,
                 std::function<UploadOutcome(const UploadResult&)> outcome_of)
        : keeper_(keeper), record_(std::move(start)), outcome_of_(std::move(outcome_of)) {}

    void on_ending(const UploadResult& result) override { write(outcome_of_(result)); }
    // Once the upload has returned, with how it ended: commits the record
    // unless that was done, and says where it went in `outcome`.
    void finish(UploadOutcome& outcome);

private:
    void write(const UploadOutcome& outcome);

    records::RecordKeeper& keeper_;
    records::UploadRecord record_;
    std::function<UploadOutcome(const UploadResult&)> outcome_of_;
    const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    std::optional<records::RecordKeeper::Kept> kept_;
};

}  // namespace vq::cli
