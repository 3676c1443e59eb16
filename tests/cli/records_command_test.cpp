// vellquin-records over an SQLite file of a few uploads.

#include "cli/records_command.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "records/store.h"
#include "support/record_samples.h"
#include "support/temp_file.h"

namespace vq::cli {
namespace {

struct Ran {
    int status;
    std::string out, err;
};

std::string read_all(std::FILE* f) {
    std::rewind(f);
    std::string text;
    for (int c; (c = std::fgetc(f)) != EOF;) text.push_back(static_cast<char>(c));
    std::fclose(f);
    return text;
}

Ran run(std::vector<std::string> args, const char* env = nullptr) {
    args.insert(args.begin(), "vellquin-records");
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const int status = run_records_command(args, env, out, err);
    return {status, read_all(out), read_all(err)};
}

TEST(RecordsCommand, ListsUnitsYieldAndChartsWhatIsOnRecordAndSaysWhyItCannot) {
    const test::TempDir dir;
    const std::string file = dir.file("records.sqlite"), records = "sqlite:" + file;
    {
        const auto store = records::open_sqlite_store(file);
        test::put_yield_day(*store);
    }
    std::ofstream(dir.file("notes.txt")) << "not records";
    const struct {
        std::vector<std::string> args;
        const char* env;
        int status;
        std::string out_has, err;
    } rows[] = {
        {{"list", "--unit", "SN1"}, records.c_str(), 0, "2026-12-10T10:00:05  SN1   B        ", ""},
        {{"--records", records, "unit", "SN1"}, nullptr, 0, "SN1: 3 uploads\n", ""},
        {{"--records", records, "list", "--outcome", "failed", "--csv"}, nullptr, 0,
         ",SN1,,,/srv/images/fw-1.bin,-1,cd34", ""},
        {{"--records", records, "list", "--limit", "1", "--json"}, nullptr, 0, "{\"id\":\"5\",", ""},
        {{"--records", records, "yield", "--by", "station", "--plot", dir.file("y.svg")}, nullptr, 0,
         "A              4      2       50.0%        4       2.5\n", ""},
        {{"--records", "sqlite:" + dir.file("none.sqlite"), "list"}, nullptr, 1, "",
         "vellquin-records: no records at " + dir.file("none.sqlite") + "\n"},
        {{"--records", "sqlite:" + dir.file("notes.txt"), "list"}, nullptr, 3, "",
         "vellquin-records: " + dir.file("notes.txt") + " is not a records database: file is not a database\n"},
        {{"yield", "--by", "week"}, records.c_str(), 2, "",
         "vellquin-records: --by: week not in {image,station,port,day}\n"},
        {{"list", "--json", "--csv"}, records.c_str(), 2, "", "vellquin-records: give --json or --csv, not both\n"},
        {{"list"}, "mysql://db", 2, "",
         "vellquin-records: records \"mysql://db\" names no place for them: none, sqlite:PATH or postgresql://...\n"},
    };
    for (const auto& r : rows) {
        const Ran ran = run(r.args, r.env);
        SCOPED_TRACE(r.args[r.args.size() > 2 ? 2 : 0]);
        EXPECT_EQ(ran.status, r.status) << ran.err;
        EXPECT_NE(ran.out.find(r.out_has), std::string::npos) << ran.out;
        EXPECT_EQ(ran.err, r.err);
    }
    EXPECT_GT(std::filesystem::file_size(dir.file("y.svg")), 1000u) << "the chart was drawn";
}

}  // namespace
}  // namespace vq::cli
