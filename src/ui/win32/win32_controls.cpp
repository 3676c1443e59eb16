#include "ui/win32/win32_controls.h"

#include <commctrl.h>
#include <commdlg.h>

#include <cmath>
#include <vector>

#include "protocol/failure.h"

namespace vq {

std::wstring wide(const std::string& text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string narrow(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::string window_text(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return narrow(text);
}

void Win32Displays::set_progress(float value) {
    SendMessageW(bar_, PBM_SETPOS, static_cast<WPARAM>(std::lround(value)), 0);
}

void Win32Displays::set_percent_text(const std::string& text) { SetWindowTextW(percent_, wide(text).c_str()); }

void Win32MessageBox::show(const std::string& text) {
    MessageBoxW(owner_, wide(text).c_str(), L"Vellquin Tool", MB_OK);
}

Win32FileDialog::~Win32FileDialog() {
    // A dialog still open belongs to its thread, which touches nothing of
    // ours once its owner is gone (its message is not posted).
    if (thread_.joinable()) open_ ? thread_.detach() : thread_.join();
}

void Win32FileDialog::ShowOpen(std::function<void()> closed) {
    if (open_) return;
    open_ = true;
    if (thread_.joinable()) thread_.join();
    thread_ = std::thread([this, owner = owner_, last = wide(file_name_), closed = std::move(closed)] {
        std::vector<wchar_t> name(32768, L'\0');
        if (last.size() < name.size()) std::copy(last.begin(), last.end(), name.begin());
        OPENFILENAMEW ofn{};
        ofn.lStructSize = sizeof ofn;
        ofn.hwndOwner = owner;
        ofn.lpstrFile = name.data();
        ofn.nMaxFile = static_cast<DWORD>(name.size());
        ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
        const bool chosen = GetOpenFileNameW(&ofn);
        std::string file = chosen ? narrow(name.data()) : std::string();
        auto* back = new std::function<void()>([this, chosen, file = std::move(file), closed] {
            open_ = false;
            if (chosen) file_name_ = file;
            closed();
        });
        if (!PostMessageW(owner, kRunOnWindowThread, 0, reinterpret_cast<LPARAM>(back))) delete back;
    });
}

void Win32ComboList::Clear() {
    SendMessageW(combo_, CB_RESETCONTENT, 0, 0);
    SetWindowTextW(combo_, L"");
}

void Win32ComboList::AddItem(const std::string& text, int position) {
    const std::wstring item = wide(text);
    SendMessageW(combo_, CB_INSERTSTRING, static_cast<WPARAM>(position), reinterpret_cast<LPARAM>(item.c_str()));
}

void Win32ComboList::RemoveItem(int position) { SendMessageW(combo_, CB_DELETESTRING, static_cast<WPARAM>(position), 0); }

int Win32ComboList::ListCount() const { return static_cast<int>(SendMessageW(combo_, CB_GETCOUNT, 0, 0)); }

std::string Win32ComboList::List(int position) const {
    const LRESULT n = SendMessageW(combo_, CB_GETLBTEXTLEN, static_cast<WPARAM>(position), 0);
    if (n == CB_ERR) return {};
    std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
    SendMessageW(combo_, CB_GETLBTEXT, static_cast<WPARAM>(position), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(n));
    return narrow(text);
}

void Win32ComboList::setListIndex(int position) {
    if (position < 0 || position >= ListCount()) throw Failure(err::InvalidPropertyValue, "list position out of range");
    SendMessageW(combo_, CB_SETCURSEL, static_cast<WPARAM>(position), 0);
}

}  // namespace vq
