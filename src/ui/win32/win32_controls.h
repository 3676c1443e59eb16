#pragma once
// Win32 shapes of the seams the upload, discovery and the form talk to.

#include "ui/win32/win32_api.h"

#include <functional>
#include <string>
#include <thread>

#include "form/form_view.h"
#include "link/port_list.h"
#include "protocol/host.h"

namespace vq {

// UTF-8 and the system's UTF-16.
std::wstring wide(const std::string& text);
std::string narrow(const std::wstring& text);
// A window's text, UTF-8.
std::string window_text(HWND window);

// The progress bar and the percentage box.
class Win32Displays final : public Displays {
public:
    Win32Displays(HWND bar, HWND percent) : bar_(bar), percent_(percent) {}
    void set_progress(float value) override;
    void set_percent_text(const std::string& text) override;

private:
    HWND bar_;
    HWND percent_;
};

// A modal box with one OK button, titled "Vellquin Tool".
class Win32MessageBox final : public MessageBox {
public:
    explicit Win32MessageBox(HWND owner = nullptr) : owner_(owner) {}
    void set_owner(HWND owner) { owner_ = owner; }
    void show(const std::string& text) override;

private:
    HWND owner_;
};

// The window's settings, in the registry under
// HKEY_CURRENT_USER\Software\Vellquin\Vellquin Tool.
class RegistrySettings final : public Settings {
public:
    std::string get(const std::string& key) const override;
    void set(const std::string& key, const std::string& value) override;
};

// A modal dialog with `prompt`, a line holding `current`, OK and Cancel:
// the line when OK is pressed, nullopt for Cancel.
std::optional<std::string> ask_text(HWND owner, const std::string& prompt, const std::string& current);

// The system's "open" dialog (GetOpenFileNameW), with no filter and no
// title of its own; a typed name of a file that does not exist is taken
// too. It runs its own loop until the user has chosen.
// Posted to a window of ours with a new std::function<void()> in its
// lParam: the window runs it on its own thread, and deletes it.
inline constexpr UINT kRunOnWindowThread = WM_APP + 2;
// Registers a class of our windows, once: the program's icon, the arrow,
// the dialog colour; each window puts in its own procedure.
void register_window_class(const wchar_t* name);

// From any thread: `work` runs on `window`'s thread, unless the window is gone.
void run_on_window_thread(HWND window, std::function<void()> work);
// In a window's procedure: runs what kRunOnWindowThread brought.
void run_handed_over(LPARAM l);

// Enter in a one-line edit box calls `typed`, where the dialog keys would
// take it, for as long as the box lives.
void on_enter(HWND edit, std::function<void()> typed);

// The system's open dialog, on a thread of its own, so that it holds no
// upload's waits: the choice comes back to the owner's thread by a message.
// A second ShowOpen while the dialog is open does nothing.
class Win32FileDialog final : public FileDialog {
public:
    ~Win32FileDialog() override;
    void set_owner(HWND owner) { owner_ = owner; }
    void ShowOpen(std::function<void()> closed) override;
    std::string FileName() const override { return file_name_; }

private:
    HWND owner_ = nullptr;
    std::string file_name_;
    std::thread thread_;
    bool open_ = false;
};

// The drop-down box (CBS_DROPDOWN) as a port list.
class Win32ComboList final : public PortList {
public:
    explicit Win32ComboList(HWND combo) : combo_(combo) {}
    void Clear() override;
    void AddItem(const std::string& text, int position) override;
    void RemoveItem(int position) override;
    int ListCount() const override;
    std::string List(int position) const override;
    void setListIndex(int position) override;

private:
    HWND combo_;
};

}  // namespace vq
