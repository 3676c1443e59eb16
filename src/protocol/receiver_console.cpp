#include "protocol/receiver_console.h"

#include <algorithm>
#include <cctype>

#include "protocol/upload.h"

namespace vq {

namespace {

constexpr const char* kReady = R"(Ready for binary \((\w+)\) download(?: to (0[xX][0-9A-Fa-f]+))?)";

}  // namespace

const std::regex& ready_line() {
    static const std::regex line(std::string(kReady) + R"([^\n]*\n)");
    return line;
}

std::optional<ReceiverReady> receiver_ready(std::string_view text) {
    static const std::regex ready(kReady);
    std::match_results<std::string_view::const_iterator> m;
    if (!std::regex_search(text.begin(), text.end(), m, ready)) return std::nullopt;
    std::string protocol = m[1].str();
    std::transform(protocol.begin(), protocol.end(), protocol.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    return ReceiverReady{protocol, m[2].str()};
}

std::optional<std::int64_t> reported_size(std::string_view text) {
    static const std::regex size(R"(Total Size\s*=\s*0[xX][0-9A-Fa-f]+\s*=\s*(\d{1,18}) Bytes)");
    std::optional<std::int64_t> last;
    for (auto it = std::regex_iterator<std::string_view::const_iterator>(text.begin(), text.end(), size);
         it != std::regex_iterator<std::string_view::const_iterator>(); ++it)
        last = std::stoll((*it)[1].str());
    return last;
}

std::optional<Protocol> protocol_for_receiver(std::string_view word, std::optional<Protocol> chosen) {
    if (word == "ymodem") {
        if (!chosen || *chosen == Protocol::Ymodem) return Protocol::Ymodem;
    } else if (word == "xmodem") {
        if (!chosen) return Protocol::Xmodem1k;
        if (*chosen == Protocol::Xmodem || *chosen == Protocol::Xmodem1k) return chosen;
    }
    return std::nullopt;
}

bool size_agrees(Protocol protocol, std::int64_t file, std::int64_t reported, std::size_t block) {
    if (reported == file) return true;
    if (protocol == Protocol::Ymodem || block == 0) return false;
    const auto b = static_cast<std::int64_t>(block);
    return reported == (file + b - 1) / b * b;
}

void Console::type(const std::string& text) {
    if (observer_) observer_->on_console(true, text, clock_.now());
    std::string line = text + "\r";
    link_.Output({reinterpret_cast<const std::uint8_t*>(line.data()), line.size()});
}

Console::Read Console::read_until(const std::vector<std::regex>& patterns, double seconds, std::size_t* found,
                                  std::string already) {
    Read r{Read::TimedOut, std::move(already), {}, {}};
    std::size_t told = 0;  // the lines up to here went to the observer
    const auto tell_lines = [&](bool all) {
        for (;;) {
            const std::size_t end = r.text.find_first_of("\r\n", told);
            if (end == std::string::npos) break;
            if (end > told && observer_) observer_->on_console(false, r.text.substr(told, end - told), clock_.now());
            told = end + 1;
        }
        if (all && told < r.text.size() && observer_) observer_->on_console(false, r.text.substr(told), clock_.now());
    };
    // A console writes its lines a few bytes at a time: what matches at the
    // very end of the text ("## " for a prompt "# ") counts once the console
    // has been quiet this long.
    constexpr double kQuiet = 0.2;
    // A chatty console (a board printing its log) is searched only where it
    // has written since, with a line's worth before, and only its latest
    // text is kept: the patterns are a line or a prompt.
    constexpr std::size_t kLookback = 512, kKept = 32768;
    const double end = clock_.now() + seconds;
    double last_arrival = clock_.now();
    std::size_t searched = 0;  // the text up to here was searched
    for (;;) {
        while (link_.InBufferCount() > 0) {
            const std::vector<std::uint8_t> got = link_.Input();
            if (got.empty()) break;
            r.text.append(got.begin(), got.end());
            last_arrival = clock_.now();
        }
        if (r.text.size() > 2 * kKept) {
            const std::size_t dropped = r.text.size() - kKept;
            r.text.erase(0, dropped);
            told = told > dropped ? told - dropped : 0;
            searched = searched > dropped ? searched - dropped : 0;
        }
        const std::size_t from = searched > kLookback ? searched - kLookback : 0;
        searched = r.text.size();
        double settle = 0;  // how much longer a match at the end must wait
        for (std::size_t i = 0; i < patterns.size(); ++i) {
            std::smatch m;
            if (!std::regex_search(r.text.cbegin() + static_cast<std::ptrdiff_t>(from), r.text.cend(), m, patterns[i],
                                   from > 0 ? std::regex_constants::match_prev_avail
                                            : std::regex_constants::match_default))
                continue;
            const auto stop = from + static_cast<std::size_t>(m.position(0) + m.length(0));
            const double quiet_for = clock_.now() - last_arrival;
            if (stop == r.text.size() && quiet_for < kQuiet) {
                settle = kQuiet - quiet_for;
                searched = from + kLookback;  // searched again once the console is quiet
                continue;
            }
            for (const auto& group : m) r.groups.push_back(group.str());
            r.after.assign(r.text.begin() + static_cast<std::ptrdiff_t>(stop), r.text.end());
            r.text.resize(stop);
            tell_lines(true);
            r.kind = Read::Found;
            if (found) *found = i;
            return r;
        }
        tell_lines(false);
        if (form_.stop_request != 0) {
            r.kind = Read::Stopped;
            break;
        }
        const double left = end - clock_.now();
        if (left <= 0) break;
        wait_seconds(static_cast<float>(settle > 0 ? std::min(settle, left) : left), clock_,
                     [this] { return form_.stop_request != 0 || link_.InBufferCount() > 0; });
    }
    tell_lines(true);
    return r;
}

}  // namespace vq
