#include "records/record.h"

#include "records/file_hash.h"

#include <gcrypt.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cstdio>
#include <ctime>

namespace vq::records {
namespace {

std::string number(std::int64_t n) { return std::to_string(n); }

}  // namespace

bool numeric_column(std::size_t column) {
    switch (column) {
    case 13: case 15: case 17: case 18: case 19: case 20: case 21: return true;
    default: return false;
    }
}

std::string field_text(const UploadRecord& r, std::size_t column) {
    switch (column) {
    case 0: return r.id;
    case 1: return r.started_at;
    case 2: return r.ended_at;
    case 3: return r.station;
    case 4: return r.operator_name;
    case 5: return r.tool_version;
    case 6: return r.port;
    case 7: return r.tty;
    case 8: return r.adapter;
    case 9: return r.unit;
    case 10: return r.protocol;
    case 11: return r.pace;
    case 12: return r.image_path;
    case 13: return number(r.image_bytes);
    case 14: return r.image_sha256;
    case 15: return number(r.bytes_acknowledged);
    case 16: return r.outcome;
    case 17: return number(r.exit_status);
    case 18: {
        char text[32];
        std::snprintf(text, sizeof text, "%.3f", r.seconds);
        return text;
    }
    case 19: return number(r.resends);
    case 20: return number(r.naks);
    case 21: return number(r.retries);
    case 22: return r.text;
    case 23: return r.log_file;
    case 24: return r.slot;
    default: return r.sent_sha256;
    }
}

void set_field(UploadRecord& r, std::size_t column, const std::string& text) {
    const auto integer = [&] { return text.empty() ? 0 : std::stoll(text); };
    switch (column) {
    case 0: r.id = text; break;
    case 1: r.started_at = text; break;
    case 2: r.ended_at = text; break;
    case 3: r.station = text; break;
    case 4: r.operator_name = text; break;
    case 5: r.tool_version = text; break;
    case 6: r.port = text; break;
    case 7: r.tty = text; break;
    case 8: r.adapter = text; break;
    case 9: r.unit = text; break;
    case 10: r.protocol = text; break;
    case 11: r.pace = text; break;
    case 12: r.image_path = text; break;
    case 13: r.image_bytes = integer(); break;
    case 14: r.image_sha256 = text; break;
    case 15: r.bytes_acknowledged = integer(); break;
    case 16: r.outcome = text; break;
    case 17: r.exit_status = static_cast<int>(integer()); break;
    case 18: r.seconds = text.empty() ? 0 : std::stod(text); break;
    case 19: r.resends = static_cast<int>(integer()); break;
    case 20: r.naks = static_cast<int>(integer()); break;
    case 21: r.retries = static_cast<int>(integer()); break;
    case 22: r.text = text; break;
    case 23: r.log_file = text; break;
    case 24: r.slot = text; break;
    default: r.sent_sha256 = text; break;
    }
}

std::string new_record_id() {
    start_gcrypt();
    unsigned char b[16];
    gcry_create_nonce(b, sizeof b);
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // the RFC 4122 variant
    char text[37];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
                  b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return text;
}

std::string utc_timestamp(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(when.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(ms % 1000));
    return text;
}

std::tm local_calendar(std::time_t when) {
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &when);
#else
    localtime_r(&when, &local);
#endif
    return local;
}

std::string host_name() {
#ifdef _WIN32
    wchar_t name[256];
    DWORD size = 256;
    if (!GetComputerNameExW(ComputerNameDnsHostname, name, &size)) return "unknown";
    const int n = WideCharToMultiByte(CP_UTF8, 0, name, static_cast<int>(size), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, name, static_cast<int>(size), out.data(), n, nullptr, nullptr);
    return out;
#else
    char name[256] = "";
    if (::gethostname(name, sizeof name - 1) != 0) return "unknown";
    return name;
#endif
}

bool valid_unit(std::string_view unit) {
    if (unit.size() > 128) return false;
    for (const char c : unit)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    return true;
}

}  // namespace vq::records
