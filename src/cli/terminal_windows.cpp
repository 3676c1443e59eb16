// The terminal on Windows: the console's input taken key by key while the
// console runs, its modes given back after.

#include <windows.h>

#include <vector>

#include "cli/console_bridge.h"

namespace vq::cli {
namespace {

class ConsoleTerminal final : public Terminal {
public:
    ConsoleTerminal() : in_(GetStdHandle(STD_INPUT_HANDLE)), out_(GetStdHandle(STD_OUTPUT_HANDLE)) {
        console_ = GetConsoleMode(in_, &before_) != 0;
        // No line editing, no echo, Ctrl-C a key like any other.
        if (console_) SetConsoleMode(in_, before_ & ~(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT));
        ended_ = !console_;  // keys come from a console only
    }
    ~ConsoleTerminal() override {
        if (console_) SetConsoleMode(in_, before_);
    }

    void wait(std::span<const WaitHandle> handles, double seconds) override {
        std::vector<HANDLE> wait_on;
        if (!ended_) wait_on.push_back(in_);
        for (const WaitHandle h : handles)
            if (h != kNoWaitHandle) wait_on.push_back(h);
        const auto ms = static_cast<DWORD>(seconds * 1000);
        if (wait_on.empty()) Sleep(ms);
        else WaitForMultipleObjects(static_cast<DWORD>(wait_on.size()), wait_on.data(), FALSE, ms);
    }

    std::optional<std::string> keys() override {
        if (ended_) return std::nullopt;
        std::wstring typed;
        DWORD waiting = 0;
        while (GetNumberOfConsoleInputEvents(in_, &waiting) && waiting > 0) {
            INPUT_RECORD record{};
            DWORD read = 0;
            if (!ReadConsoleInputW(in_, &record, 1, &read) || read == 0) break;
            const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
            if (record.EventType == KEY_EVENT && key.bKeyDown && key.uChar.UnicodeChar != 0)
                typed.append(key.wRepeatCount ? key.wRepeatCount : 1, key.uChar.UnicodeChar);
        }
        if (typed.empty()) return std::string();
        const int size = WideCharToMultiByte(CP_UTF8, 0, typed.data(), static_cast<int>(typed.size()), nullptr, 0,
                                             nullptr, nullptr);
        std::string utf8(static_cast<std::size_t>(size), '\0');
        WideCharToMultiByte(CP_UTF8, 0, typed.data(), static_cast<int>(typed.size()), utf8.data(), size, nullptr,
                            nullptr);
        return utf8;
    }

    void show(std::span<const std::uint8_t> bytes) override {
        DWORD written = 0;
        WriteFile(out_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }

private:
    HANDLE in_, out_;
    DWORD before_ = 0;
    bool console_ = false;
    bool ended_ = false;
};

}  // namespace

std::unique_ptr<Terminal> open_terminal() { return std::make_unique<ConsoleTerminal>(); }

}  // namespace vq::cli
