#pragma once
// The command line of vellquin-send.

#include <optional>
#include <string>
#include <vector>

#include "protocol/upload.h"

namespace vq::cli {

struct SendOptions {
    bool help = false;
    bool version = false;
    bool list = false;
    std::vector<std::string> ports;   // as given: COMn or device paths; none: the only port, or only USB adapter
    bool all = false;                 // every port the window lists
    std::string trace;                // where to write the trace; empty for none
    std::optional<double> timeout;    // seconds, more than 0
    Pace pace = Pace::Fixed;
    Protocol protocol = Protocol::Device;
    double start_wait = kDefaultStartWait;  // seconds, more than 0
    std::string send_name;            // ymodem: the name block 0 gives; empty for the file's own
    std::string command;              // typed at the receiver's console first; empty for none
    std::string prompt;               // the console's prompt, a regular expression
    bool protocol_from_receiver = false;  // the receiver's words name the protocol
    bool verify_crc32 = false;        // the receiver's crc32 of what it got must be the file's
    std::vector<std::string> then;    // typed after a checked transfer, in order
    std::string fail_on;              // what a failed command shows, a regular expression
    bool console = false;             // the port joined to the terminal after the upload
    bool json = false;                // JSON Lines on stdout
    std::string log_dir;              // a log per upload and summary.csv
    bool repeat = false;              // a jig: upload each time a device is plugged in
    int count = 0;                    // with repeat: uploads per port; 0 until stopped
    std::string records;              // --records as given; empty for VELLQUIN_RECORDS or the default
    std::string station;              // the station's name on record; empty for the host name
    std::string operator_name;        // who ran the upload, on record
    std::string unit;                 // the unit's serial number, on record
    std::string recipe;               // a station's recipe: the image, protocol, pacing and slots
    std::string file;                 // the image, UTF-8
};

struct ParsedSendOptions {
    SendOptions options;
    std::string error;  // a usage error in plain words; empty when the line is good
};

// `arguments` starts with the program's name, as argv does; UTF-8.
ParsedSendOptions parse_send_options(const std::vector<std::string>& arguments);

// The text of --help.
std::string send_help();

}  // namespace vq::cli
