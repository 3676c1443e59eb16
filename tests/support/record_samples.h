#pragma once
// Records for the stores' tests, and a day of uploads whose yield is known.

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "records/store.h"

namespace vq::test {

using records::RecordStore;
using records::UploadRecord;
using records::YieldBy;
using records::YieldRow;

inline UploadRecord record(const std::string& id, const std::string& at, const std::string& unit = "",
                    const std::string& outcome = "finished") {
    UploadRecord r;
    r.id = id;
    r.started_at = r.ended_at = at;
    r.station = "line-1";
    r.unit = unit;
    r.outcome = outcome;
    r.image_path = "/srv/images/fw-" + id + ".bin";
    r.image_sha256 = (id == "b" ? "ab12" : "cd34") + std::string(60, '0');
    r.seconds = 1.5;
    r.text = "Sent 1024 bytes, \"quoted\"";
    return r;
}

// Station A: SN1 fails then passes, SN2 passes, and one upload names no
// unit; station B: SN1 passes at once.
inline void put_yield_day(RecordStore& store) {
    const struct {
        const char *id, *station, *unit, *outcome;
        double seconds;
    } uploads[] = {{"1", "A", "SN1", "failed", 1},  {"2", "A", "SN1", "finished", 10}, {"3", "A", "SN2", "finished", 2},
                   {"4", "A", "", "finished", 3}, {"5", "B", "SN1", "finished", 4}};
    for (const auto& u : uploads) {
        UploadRecord r = record(u.id, std::string("2026-12-10T10:00:0") + u.id + ".000Z", u.unit, u.outcome);
        r.station = u.station;
        r.seconds = u.seconds;
        r.retries = 1;
        store.put(r);
    }
}

inline void expect_yield_by_station(RecordStore& store) {
    const std::vector<YieldRow> rows = records::yield(store, YieldBy::Station, "2026-12-10");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(std::tie(rows[0].group, rows[0].uploads, rows[0].units, rows[0].first_pass, rows[0].retries),
              std::make_tuple(std::string("A"), 4LL, 2LL, 1LL, 4LL));
    EXPECT_EQ(rows[0].median_seconds, 2.5);
    EXPECT_EQ(std::tie(rows[1].group, rows[1].uploads, rows[1].units, rows[1].first_pass), std::make_tuple(std::string("B"), 1LL, 1LL, 1LL));
    EXPECT_EQ(rows[1].median_seconds, 4);
    EXPECT_EQ(rows[0].first_pass_yield(), 0.5);
    EXPECT_TRUE(records::yield(store, YieldBy::Day, "2026-12-11").empty());
}

// A serial's number and its upload's opening record come in one
// transaction; the ending replaces that record once, and a number whose
// record could not be made is given again.
inline void expect_openings_replaced_once(RecordStore& store) {
    EXPECT_THROW(store.next_number("VQ-{:d}", 5, [](std::int64_t) -> UploadRecord { throw records::StoreError(records::StoreError::Failed, "too wide"); }),
                 records::StoreError);
    const std::int64_t number = store.next_number("VQ-{:d}", 5, [](std::int64_t n) {
        UploadRecord r = record("o", "2026-12-11T10:00:00.000Z", "VQ-" + std::to_string(n), records::kOpeningOutcome);
        return r;
    });
    EXPECT_EQ(number, 5) << "the number of the failed opening";
    EXPECT_EQ(records::list(store, {.unit = "VQ-5"}).at(0).outcome, "started");
    for (const char* outcome : {"failed", "finished"}) store.put(record("o", "2026-12-11T10:00:00.000Z", "VQ-5", outcome));
    EXPECT_EQ(records::list(store, {.unit = "VQ-5"}).at(0).outcome, "failed") << "replaced once, then left";
}

}  // namespace vq::test
