#include "cli/record_writer.h"

#include "protocol/report.h"

namespace vq::cli {

void RecordWriter::write(const UploadOutcome& outcome) {
    if (kept_ || !keeper_.enabled()) return;
    const UploadResult& result = outcome.result;
    records::UploadRecord& r = record_;
    r.ended_at = records::utc_timestamp(std::chrono::system_clock::now());
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    r.protocol = protocol_word(result.protocol);
    r.pace = pace_word(result.pace);
    r.bytes_acknowledged = acknowledged_bytes(result);
    r.outcome = outcome.word();
    r.exit_status = outcome.exit_status;
    r.resends = resends();
    r.naks = naks();
    r.retries = result.retries;
    r.text = outcome.ending;
    if (!r.log_file.empty()) r.log_file += "_" + std::string(outcome.word()) + ".log";  // as it is named once closed
    kept_ = keeper_.keep(r);
}

void RecordWriter::finish(UploadOutcome& outcome) {
    write(outcome);
    if (!kept_) return;
    outcome.record_id = record_.id;
    outcome.record_where = kept_->where;
    outcome.record_note = kept_->note;
}

}  // namespace vq::cli
