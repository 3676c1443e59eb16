#pragma once
// Runs the uploads of every port at once, each on its own thread, prints
// what they report, and gives the exit status: 0 when every upload
// finished, else the status of the first port in the order given whose
// upload did not.

#include <functional>
#include <string>
#include <vector>

#include "cli/port_run.h"

namespace vq::cli {

enum class Output {
    Plain,  // lines, or a redrawn bar (one port) or table (several) on a terminal
    Json,   // JSON Lines on stdout, plain lines on stderr
};

// A station's operator at the terminal: `first` (one per target, or none)
// hear each port's reports before the other outputs; each line typed on
// stdin goes to `typed`, and what it answers is shown.
struct TypedLines {
    std::vector<PortOutput*> first;
    std::function<std::string(const std::string& line)> typed;
};

// Ctrl-C or SIGTERM stops every upload as the window's Stop does; a second
// one closes every port and quits with status 11.
int run_ports(const std::vector<PortTarget>& targets, const RunSettings& settings, Output output,
              const TypedLines& typed_lines = {});

}  // namespace vq::cli
