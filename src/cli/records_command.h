#pragma once
// vellquin-records: reads the uploads on record, and sends the spool to the
// server. The command line is parsed here and the work done over the
// records room; the main only hands over the arguments and the outputs.

#include <cstdio>
#include <string>
#include <vector>

namespace vq::cli {

namespace records_exit {
inline constexpr int kDone = 0;
inline constexpr int kFailed = 1;      // the records could not be read, or the spool not all sent
inline constexpr int kUsage = 2;       // bad arguments
inline constexpr int kNotRecords = 3;  // the place named holds no records of this program
}  // namespace records_exit

// Runs `arguments` (argv's, from the program's name on, UTF-8); `records_env`
// is VELLQUIN_RECORDS, null when unset.
int run_records_command(const std::vector<std::string>& arguments, const char* records_env, std::FILE* out,
                        std::FILE* err);

}  // namespace vq::cli
