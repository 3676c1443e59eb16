#include "records/record_writer.h"

#include <filesystem>

#include "protocol/image_file.h"
#include "protocol/report.h"

namespace vq::records {

void RecordWriter::write(const UploadResult& result, const Ending& ending) {
    if (kept_ || !keeper_.enabled()) return;
    UploadRecord& r = record_;
    r.ended_at = utc_timestamp(std::chrono::system_clock::now());
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    r.protocol = protocol_word(result.protocol);
    r.pace = pace_word(result.pace);
    r.bytes_acknowledged = acknowledged_bytes(result);
    r.outcome = ending.outcome;
    r.exit_status = ending.exit_status;
    r.resends = resends();
    r.naks = naks();
    r.retries = result.retries;
    r.text = ending.text;
    if (!r.log_file.empty()) r.log_file += "_" + ending.outcome + ".log";  // as it is named once closed
    kept_ = keeper_.keep(r);
}

const std::optional<RecordKeeper::Kept>& RecordWriter::finish(const UploadResult& result, const Ending& ending) {
    write(result, ending);
    return kept_;
}

UploadRecord starting_record(const std::string& image, std::int64_t size, const std::string& sha256) {
    UploadRecord r;
    r.id = new_record_id();
    r.started_at = utc_timestamp(std::chrono::system_clock::now());
    r.station = host_name();
    r.tool_version = VQ_VERSION;
    std::error_code ec;
    r.image_path = utf8_from_path(std::filesystem::absolute(path_from_utf8(image), ec));
    r.image_bytes = size;
    r.image_sha256 = sha256;
    return r;
}

UploadRecord opening_record(UploadRecord start) {
    start.outcome = kOpeningOutcome;
    start.exit_status = -1;
    start.ended_at = start.started_at;
    start.text = "started, and not ended while its program ran";
    return start;
}

}  // namespace vq::records
