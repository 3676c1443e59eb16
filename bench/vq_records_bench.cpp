// How long the records take: a record kept at the end of an upload (SQLite,
// synced commit), and the queries vellquin-records makes over a million
// records. bench/records runs it.
//
//   vq-records-bench [--records N] [--keep-file PATH]

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "records/keeper.h"
#include "records/store.h"

namespace {

using namespace vq::records;
using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

UploadRecord sample(long long i) {
    static const char* const outcomes[] = {"finished", "finished", "finished", "finished", "finished",
                                           "finished", "finished", "finished", "failed",   "no_start"};
    UploadRecord r;
    r.id = new_record_id();
    const long long day = i / 20000;  // 20,000 uploads a day over fifty days
    char at[64];
    std::snprintf(at, sizeof at, "2026-%02lld-%02lldT%02lld:%02lld:%02lld.%03lldZ", 10 + day / 28, 1 + day % 28,
                  (i / 3600) % 24, (i / 60) % 60, i % 60, i % 1000);
    r.started_at = r.ended_at = at;
    r.station = "line-" + std::to_string(i % 4);
    r.port = "COM" + std::to_string(1 + i % 8);
    r.unit = "SN" + std::to_string(i / 2);  // each unit flashed twice
    r.image_sha256 = std::string(i % 3 ? "5e2b" : "a91c") + std::string(60, '0');
    r.image_path = "/srv/images/fw-" + std::to_string(i % 3) + ".bin";
    r.outcome = i % 97 < day % 9 ? "failed" : outcomes[i % 10];  // some days worse than others
    r.seconds = 6.0 + static_cast<double>(i % 17) / 10;
    r.retries = static_cast<int>(i % 7 == 0);
    r.text = "Sent 65536 bytes in 64 blocks";
    return r;
}

template <typename Work>
double median_ms(int runs, Work work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        work();
        times.push_back(ms_since(start));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    long long count = 1000000;
    std::string keep_file;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--records") count = std::stoll(argv[i + 1]);
        else if (option == "--keep-file") keep_file = argv[i + 1];
    }
    const auto folder = std::filesystem::temp_directory_path() / ("vq-records-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string file = keep_file.empty() ? (folder / "records.sqlite").string() : keep_file;

    // One record at the end of an upload: opened, committed, closed.
    RecordKeeper keeper({RecordsTarget::Sqlite, file}, (folder / "spool.sqlite").string());
    long long n = 0;
    const double keep = median_ms(21, [&] { keeper.keep(sample(n++)); });
    std::printf("a record kept at an upload's end (SQLite, synced): median %.2f ms of 21\n", keep);

    const auto store = open_sqlite_store(file);
    const auto filled = Clock::now();
    std::vector<UploadRecord> batch;
    for (; n < count; ++n) {
        batch.push_back(sample(n));
        if (batch.size() == 20000 || n + 1 == count) {
            store->put_all(batch);
            batch.clear();
        }
    }
    std::printf("%lld records written in %.1f s\n", count, ms_since(filled) / 1000);
    const double unit = median_ms(5, [&] { list(*store, {.unit = "SN123456"}); });
    std::printf("list --unit over %lld records: median %.1f ms of 5\n", count, unit);
    const double by_day = median_ms(3, [&] { yield(*store, YieldBy::Day, ""); });
    std::printf("yield --by day over %lld records: median %.1f ms of 3\n", count, by_day);
    if (keep_file.empty()) std::filesystem::remove_all(folder);
    return 0;
}
