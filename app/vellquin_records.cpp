// vellquin-records: the uploads on record, from the command line.

#include <cstdio>
#include <cstdlib>

#include "cli/arguments.h"
#include "cli/records_command.h"

int main(int argc, char** argv) {
    return vq::cli::run_records_command(vq::cli::utf8_arguments(argc, argv), std::getenv("VELLQUIN_RECORDS"), stdout,
                                        stderr);
}
