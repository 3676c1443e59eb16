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

namespace {

constexpr const wchar_t* kSettingsKey = L"Software\\Vellquin\\Vellquin Tool";

// A dialog's template in memory: the header, then each control, every
// part on the boundary the format asks for.
class DialogTemplate {
public:
    DialogTemplate(const wchar_t* title, short cx, short cy, WORD controls) {
        put_dword(DS_MODALFRAME | DS_CENTER | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU);
        put_dword(0);
        words_.push_back(controls);
        for (const short v : {short(0), short(0), cx, cy}) words_.push_back(static_cast<WORD>(v));
        words_.push_back(0);  // no menu
        words_.push_back(0);  // the standard class
        put_text(title);
        words_.push_back(9);  // the font's points, then its name
        put_text(L"Segoe UI");
    }
    // `atom`: 0x80 button, 0x81 edit, 0x82 static.
    void add(WORD atom, DWORD style, short x, short y, short cx, short cy, WORD id, const wchar_t* text) {
        if (words_.size() % 2) words_.push_back(0);  // DWORD-aligned
        put_dword(style | WS_CHILD | WS_VISIBLE);
        put_dword(0);
        for (const short v : {x, y, cx, cy}) words_.push_back(static_cast<WORD>(v));
        words_.push_back(id);
        words_.push_back(0xFFFF);
        words_.push_back(atom);
        put_text(text);
        words_.push_back(0);  // no creation data
    }
    const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

private:
    void put_dword(DWORD v) {
        words_.push_back(LOWORD(v));
        words_.push_back(HIWORD(v));
    }
    void put_text(const wchar_t* text) {
        for (; *text; ++text) words_.push_back(static_cast<WORD>(*text));
        words_.push_back(0);
    }
    std::vector<WORD> words_;
};

struct Asked {
    std::wstring prompt, text;
};

constexpr WORD kAskedText = 100, kAskedPrompt = 101;

INT_PTR CALLBACK asked(HWND dialog, UINT message, WPARAM w, LPARAM l) {
    auto* a = reinterpret_cast<Asked*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrW(dialog, DWLP_USER, l);
        a = reinterpret_cast<Asked*>(l);
        SetDlgItemTextW(dialog, kAskedPrompt, a->prompt.c_str());
        SetDlgItemTextW(dialog, kAskedText, a->text.c_str());
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(w) == IDOK) {
            a->text = wide(window_text(GetDlgItem(dialog, kAskedText)));
            EndDialog(dialog, IDOK);
        } else if (LOWORD(w) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
        }
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

std::string RegistrySettings::get(const std::string& key) const {
    wchar_t value[2048];
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, wide(key).c_str(), RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS)
        return {};
    return narrow(value);
}

void RegistrySettings::set(const std::string& key, const std::string& value) {
    const std::wstring text = wide(value);
    RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsKey, wide(key).c_str(), REG_SZ, text.c_str(),
                    static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

std::optional<std::string> ask_text(HWND owner, const std::string& prompt, const std::string& current) {
    DialogTemplate t(L"Vellquin Tool", 300, 92, 4);
    t.add(0x82, SS_LEFT, 7, 7, 286, 34, kAskedPrompt, L"");
    t.add(0x81, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 7, 45, 286, 14, kAskedText, L"");
    t.add(0x80, WS_TABSTOP | BS_DEFPUSHBUTTON, 182, 68, 50, 16, IDOK, L"OK");
    t.add(0x80, WS_TABSTOP | BS_PUSHBUTTON, 243, 68, 50, 16, IDCANCEL, L"Cancel");
    Asked a{wide(prompt), wide(current)};
    if (DialogBoxIndirectParamW(GetModuleHandleW(nullptr), t.get(), owner, asked, reinterpret_cast<LPARAM>(&a)) != IDOK)
        return std::nullopt;
    return narrow(a.text);
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
        run_on_window_thread(owner, [this, chosen, file = std::move(file), closed] {
            open_ = false;
            if (chosen) file_name_ = file;
            closed();
        });
    });
}

void register_window_class(const wchar_t* name) {
    WNDCLASSEXW c{};
    c.cbSize = sizeof c;
    if (GetClassInfoExW(GetModuleHandleW(nullptr), name, &c)) return;
    c.cbSize = sizeof c;
    c.lpfnWndProc = DefWindowProcW;  // replaced per window
    c.hInstance = GetModuleHandleW(nullptr);
    c.hIcon = LoadIconW(c.hInstance, MAKEINTRESOURCEW(1));
    if (!c.hIcon) c.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    c.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    c.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    c.lpszClassName = name;
    RegisterClassExW(&c);
}

namespace {

LRESULT CALLBACK enter_calls(HWND edit, UINT message, WPARAM w, LPARAM l, UINT_PTR id, DWORD_PTR data) {
    auto* typed = reinterpret_cast<std::function<void()>*>(data);
    if (message == WM_GETDLGCODE && w == VK_RETURN) return DLGC_WANTALLKEYS | DefSubclassProc(edit, message, w, l);
    if (message == WM_CHAR && w == VK_RETURN) {
        (*typed)();
        return 0;
    }
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(edit, &enter_calls, id);
        delete typed;
    }
    return DefSubclassProc(edit, message, w, l);
}

}  // namespace

void on_enter(HWND edit, std::function<void()> typed) {
    SetWindowSubclass(edit, &enter_calls, 1, reinterpret_cast<DWORD_PTR>(new std::function<void()>(std::move(typed))));
}

void run_on_window_thread(HWND window, std::function<void()> work) {
    auto* handed = new std::function<void()>(std::move(work));
    if (!PostMessageW(window, kRunOnWindowThread, 0, reinterpret_cast<LPARAM>(handed))) delete handed;
}

void run_handed_over(LPARAM l) {
    const std::unique_ptr<std::function<void()>> work(reinterpret_cast<std::function<void()>*>(l));
    (*work)();
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
