#include "cli/help_format.h"

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
        std::string text, line;
        const std::string& words = option->get_description();
        for (std::size_t at = 0; at <= words.size();) {
            const std::size_t end = std::min(words.find(' ', at), words.size());
            const std::string word = words.substr(at, end - at);
            at = end + 1;
            if (!line.empty() && line.size() + 1 + word.size() > kTextColumns) {
                text += line + "\n";
                line.clear();
            }
            line += (line.empty() ? "" : " ") + word;
        }
        return text + line;
    }
};

}  // namespace

std::shared_ptr<CLI::Formatter> wrapping_help() { return std::make_shared<WrappingFormatter>(); }

}  // namespace vq::cli
