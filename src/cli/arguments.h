#pragma once
// A command-line program's arguments as UTF-8, on every system.

#include <string>
#include <vector>

namespace vq::cli {

// argv as UTF-8. Windows hands main() its ANSI code page's rendering, so
// there they are taken from the wide command line, and the console is told
// that what is printed is UTF-8.
std::vector<std::string> utf8_arguments(int argc, char** argv);

}  // namespace vq::cli
