#pragma once
// --help as the programs print it: CLI11's layout, with each option's
// description wrapped to fit 80 columns beside the option.

#include <CLI/CLI.hpp>

#include <memory>

namespace vq::cli {

std::shared_ptr<CLI::Formatter> wrapping_help();

}  // namespace vq::cli
