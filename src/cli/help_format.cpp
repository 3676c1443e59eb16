#include "cli/help_format.h"

#include "cli/progress_printer.h"

namespace vq::cli {
namespace {

constexpr std::size_t kNameColumns = 28;
constexpr std::size_t kTextColumns = 80 - kNameColumns - 1;

class WrappingFormatter final : public CLI::Formatter {
public:
    WrappingFormatter() { column_width(kNameColumns); }

protected:
    // Lines break between words; CLI11 indents each line after a break.
    std::string make_option_desc(const CLI::Option* option) const override {
        std::string text;
        for (const std::string& line : wrap_to_width("", option->get_description(), kTextColumns + 1))
            text += (text.empty() ? "" : "\n") + line;
        return text;
    }
};

}  // namespace

std::shared_ptr<CLI::Formatter> wrapping_help() { return std::make_shared<WrappingFormatter>(); }

}  // namespace vq::cli
