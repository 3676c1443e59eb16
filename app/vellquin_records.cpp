// vellquin-records: the uploads on record, from the command line.

#include <cstdio>
#include <cstdlib>

#include "cli/records_command.h"

int main(int argc, char** argv) {
    return vq::cli::run_records_command({argv, argv + argc}, std::getenv("VELLQUIN_RECORDS"), stdout, stderr);
}
