#pragma once
// One upload on record: who sent which image where, when, and how it ended.
// The field names are the database's columns and the JSON keys.

#include <array>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace vq::records {

struct UploadRecord {
    std::string id;          // a UUID, made when the upload starts
    std::string started_at;  // UTC, ISO 8601 with milliseconds
    std::string ended_at;
    std::string station;     // the host name, unless named
    std::string operator_name;  // "operator"; empty unless given
    std::string tool_version;
    std::string port;        // as given
    std::string tty;         // what it led to; the COM port on Windows
    std::string adapter;     // vid:pid, serial number, interface, USB location, where known
    std::string unit;        // the unit's serial number, when given
    std::string protocol;
    std::string pace;
    std::string image_path;  // absolute
    std::int64_t image_bytes = -1;
    std::string image_sha256;
    std::int64_t bytes_acknowledged = 0;
    std::string outcome;     // the words --json uses
    int exit_status = 0;
    double seconds = 0;
    int resends = 0;
    int naks = 0;
    int retries = 0;
    std::string text;        // the ending in words
    std::string log_file;    // when --log wrote one
    std::string slot;        // a station's slot, by the recipe's name for it
    std::string sent_sha256; // of the image as sent, when a serial was stamped into it
};

// The columns, in the order every store writes and reads them.
inline constexpr std::array<std::string_view, 26> kColumns = {
    "id",       "started_at", "ended_at",   "station",      "operator",           "tool_version",
    "port",     "tty",        "adapter",    "unit",         "protocol",           "pace",
    "image_path", "image_bytes", "image_sha256", "bytes_acknowledged", "outcome", "exit_status",
    "seconds",  "resends",    "naks",       "retries",      "text",               "log_file",
    "slot",     "sent_sha256"};

// The outcome of an upload's record while the upload runs.
inline constexpr const char* kOpeningOutcome = "started";

// Whether the column at that place holds a number (JSON writes it bare).
bool numeric_column(std::size_t column);

// A field by its column's place, as text (numbers in decimal), and back.
std::string field_text(const UploadRecord& r, std::size_t column);
void set_field(UploadRecord& r, std::size_t column, const std::string& text);

// A version 4 UUID from the system's random source.
std::string new_record_id();
// "2026-12-10T07:21:55.123Z".
std::string utc_timestamp(std::chrono::system_clock::time_point when);
// `when` on this machine's calendar and clock.
std::tm local_calendar(std::time_t when);

// This machine's name, the station's unless another is given.
std::string host_name();

// Whether a unit's serial number may be recorded: printable, no control
// characters, at most 128 bytes.
bool valid_unit(std::string_view unit);

}  // namespace vq::records
