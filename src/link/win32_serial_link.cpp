#include <windows.h>

#include "link/win32_serial_link.h"

#include <algorithm>
#include <chrono>

#include "link/device_ids.h"
#include "link/drain.h"
#include "protocol/image_file.h"

namespace vq {
namespace {

// Enough for the slowest line we support to take a whole frame, with margin
// for a USB adapter that is slow to start.
constexpr DWORD kWriteBudgetMs = 2000;
// A read of what has arrived takes a moment; a driver that takes longer has
// failed.
constexpr DWORD kSettleMs = 1000;

std::string system_words(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string words = n ? utf8_from_path(std::filesystem::path(std::wstring(text, n))) : std::string();
    LocalFree(text);
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ' || words.back() == '.'))
        words.pop_back();
    return (words.empty() ? "error" : words) + " (" + std::to_string(code) + ")";
}

HANDLE new_event(bool set) { return CreateEventW(nullptr, TRUE, set ? TRUE : FALSE, nullptr); }

// The mutex that stands for a port among these programs: Local\ is this
// logon session's, which an ordinary user may make names in.
std::wstring guard_name(const std::string& device) {
    const int n = com_number_of(device);
    const std::string key = n > 0 ? "COM" + std::to_string(n) : device;
    std::wstring name = L"Local\\org.vellquin.port.";
    for (char ch : key) name += ch == '\\' ? L'_' : static_cast<wchar_t>(static_cast<unsigned char>(ch));
    return name;
}

}  // namespace

struct Win32SerialLink::Port {
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE guard = nullptr;
    HANDLE io_done = new_event(false);
    HANDLE arrived = new_event(false);  // the one-byte read's
    HANDLE ready = new_event(true);     // always signalled: a byte waits already
    OVERLAPPED arrival{};
    bool arrival_pending = false;
    std::uint8_t arrival_byte = 0;

    ~Port() {
        if (file != INVALID_HANDLE_VALUE) {
            // The pending read writes into `arrival` and `arrival_byte`: it
            // must be over before they are freed.
            if (arrival_pending) {
                DWORD got = 0;
                CancelIoEx(file, &arrival);
                GetOverlappedResult(file, &arrival, &got, TRUE);
            }
            CloseHandle(file);
        }
        if (guard) CloseHandle(guard);
        for (HANDLE h : {io_done, arrived, ready}) CloseHandle(h);
    }
    // Runs one overlapped request and waits for it, `ms` at most (then it is
    // cancelled). Returns the bytes done, those of a cancelled request too,
    // or the error code as negative. It never returns while the request is
    // pending: the driver would write into `ov` and the caller's buffer
    // after they are gone, so a cancel is waited for until the driver ends it.
    long long run(BOOL started, DWORD ms, OVERLAPPED& ov) {
        DWORD done = 0;
        if (!started && GetLastError() != ERROR_IO_PENDING) return -static_cast<long long>(GetLastError());
        if (WaitForSingleObject(ov.hEvent, ms) != WAIT_OBJECT_0) CancelIoEx(file, &ov);
        if (!GetOverlappedResult(file, &ov, &done, TRUE)) {
            const DWORD code = GetLastError();
            return code == ERROR_OPERATION_ABORTED ? static_cast<long long>(done) : -static_cast<long long>(code);
        }
        return done;
    }
};

Win32SerialLink::Win32SerialLink(PortMap ports) : SystemLinkBase(std::move(ports)) {}

Win32SerialLink::~Win32SerialLink() { close_port(); }

bool Win32SerialLink::PortOpen() const { return port_ != nullptr; }

void* Win32SerialLink::file() const { return port_ ? port_->file : nullptr; }

void Win32SerialLink::open_port(const std::string& device) {
    auto port = std::make_unique<Port>();
    const Failure held(err::PortAlreadyOpen, device + ": held by another program");
    port->guard = CreateMutexW(nullptr, FALSE, guard_name(device).c_str());
    if (port->guard && GetLastError() == ERROR_ALREADY_EXISTS) throw held;
    const std::wstring path = path_from_utf8(win32_device_path(device)).wstring();
    port->file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr);
    DCB probe{};
    probe.DCBlength = sizeof probe;
    // Wine opens a COM name that leads nowhere, and fails its first serial call.
    if (port->file == INVALID_HANDLE_VALUE || !GetCommState(port->file, &probe)) {
        const DWORD code = GetLastError();
        const int number = win32_error_number(code, Win32Call::Open);
        if (number == err::PortAlreadyOpen) throw held;
        throw Failure(number, device + ": no such serial port: " + system_words(code));
    }
    SetupComm(port->file, 8192, 8192);  // a hint; drivers may keep their own sizes
    port->arrival.hEvent = port->arrived;
    port_ = std::move(port);
}

void Win32SerialLink::close_port() {
    port_.reset();
    held_.reset();
}

void Win32SerialLink::apply(const LineSettings& s) {
    if (s.stop_bits == LineSettings::StopBits::OneAndHalf && s.data_bits != 5)
        throw Failure(err::SetCommStateFailed, device() + ": line settings refused: 1.5 stop bits need 5 data bits");
    settle_arrival();
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port_->file, &dcb)) fail(GetLastError(), Win32Call::Settings, "line settings refused");
    dcb.BaudRate = static_cast<DWORD>(s.baud);
    dcb.ByteSize = static_cast<BYTE>(s.data_bits);
    static const struct { char letter; BYTE parity; } parities[] = {
        {'N', NOPARITY}, {'E', EVENPARITY}, {'O', ODDPARITY}, {'M', MARKPARITY}, {'S', SPACEPARITY}};
    for (const auto& p : parities)
        if (p.letter == s.parity) dcb.Parity = p.parity;
    dcb.StopBits = s.stop_bits == LineSettings::StopBits::One ? ONESTOPBIT
                   : s.stop_bits == LineSettings::StopBits::Two ? TWOSTOPBITS
                                                               : ONE5STOPBITS;
    dcb.fBinary = TRUE;
    dcb.fParity = s.parity != 'N';
    // No flow control of any kind; DTR and RTS on, as a terminal leaves them.
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;  // else every line error stops all I/O until ClearCommError
    if (!SetCommState(port_->file, &dcb)) fail(GetLastError(), Win32Call::Settings, "line settings refused");
    // A read returns at once with what has arrived; with nothing there it
    // waits for the first byte, a second at most (the armed read of
    // handle()). A write has the write budget.
    COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, 1000, 0, kWriteBudgetMs};
    if (!SetCommTimeouts(port_->file, &timeouts)) fail(GetLastError(), Win32Call::Settings, "timeouts refused");
}

void Win32SerialLink::setInBufferCount(std::int16_t count) {
    if (count != 0) throw Failure(err::InvalidPropertyValue, "InBufferCount can only be set to 0");
    require_open();
    settle_arrival();
    held_.reset();
    if (!PurgeComm(port_->file, PURGE_RXABORT | PURGE_RXCLEAR)) fail(GetLastError(), Win32Call::Read, "discarding input failed");
}

void Win32SerialLink::settle_arrival() {
    if (!port_ || !port_->arrival_pending) return;
    Port& p = *port_;
    p.arrival_pending = false;
    if (!HasOverlappedIoCompleted(&p.arrival)) CancelIoEx(p.file, &p.arrival);
    DWORD got = 0;
    // Waits until the driver has ended the read: it writes into `p.arrival_byte`.
    if (GetOverlappedResult(p.file, &p.arrival, &got, TRUE)) {
        if (got == 1) held_ = p.arrival_byte;
    } else if (const DWORD code = GetLastError(); code != ERROR_OPERATION_ABORTED) {
        fail(code, Win32Call::Read, "read failed");
    }
}

void* Win32SerialLink::handle() {
    if (!port_) return nullptr;
    Port& p = *port_;
    if (p.arrival_pending) {
        if (!HasOverlappedIoCompleted(&p.arrival)) return p.arrived;
        try {
            settle_arrival();
        } catch (const Failure&) {
            return nullptr;  // the next operation fails with it
        }
    }
    COMSTAT status{};
    DWORD errors = 0;
    if (held_ || !ClearCommError(p.file, &errors, &status) || status.cbInQue > 0) return p.ready;
    ResetEvent(p.arrived);
    p.arrival = OVERLAPPED{};
    p.arrival.hEvent = p.arrived;
    DWORD got = 0;
    if (ReadFile(p.file, &p.arrival_byte, 1, &got, &p.arrival)) {
        if (got == 1) held_ = p.arrival_byte;
        return p.ready;
    }
    if (GetLastError() != ERROR_IO_PENDING) return p.ready;  // the next operation meets the error
    p.arrival_pending = true;
    return p.arrived;
}

int Win32SerialLink::waiting_in_system() {
    COMSTAT status{};
    DWORD errors = 0;
    if (!ClearCommError(port_->file, &errors, &status)) fail(GetLastError(), Win32Call::Read, "ClearCommError failed");
    return static_cast<int>(std::min<DWORD>(status.cbInQue, 0x7fffffff));
}

int Win32SerialLink::InBufferCount() {
    require_open();
    settle_arrival();
    return waiting_in_system() + (held_ ? 1 : 0);
}

void Win32SerialLink::Output(std::span<const std::uint8_t> bytes) {
    require_open();
    settle_arrival();
    Port& p = *port_;
    const ULONGLONG deadline = GetTickCount64() + kWriteBudgetMs;
    for (std::size_t sent = 0; sent < bytes.size();) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) fail(WAIT_TIMEOUT, Win32Call::Write, "the device takes no data (write timed out)");
        OVERLAPPED ov{};
        ov.hEvent = p.io_done;
        ResetEvent(p.io_done);
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - sent, 0x10000));
        const long long n = p.run(WriteFile(p.file, bytes.data() + sent, chunk, nullptr, &ov),
                                  static_cast<DWORD>(deadline - now), ov);
        if (n < 0) {
            const auto code = static_cast<DWORD>(-n);
            fail(code, Win32Call::Write, code == WAIT_TIMEOUT ? "the device takes no data (write timed out)" : "write refused");
        }
        sent += static_cast<std::size_t>(n);
    }
    const ULONGLONG now = GetTickCount64();
    const auto left = std::chrono::milliseconds(deadline > now ? deadline - now : 0);
    const auto handle = reinterpret_cast<std::intptr_t>(p.file);
    switch (drain_output([handle] { return output_queued(handle); }, std::chrono::steady_clock::now() + left,
                         drain_pause())) {
    case Drain::Done:
    case Drain::Stopped: return;
    case Drain::Failed: fail(GetLastError(), Win32Call::Write, "drain failed");
    case Drain::TimedOut:
        fail(WAIT_TIMEOUT, Win32Call::Write,
             "the device stopped taking data: bytes written " + std::to_string(kWriteBudgetMs / 1000) +
                 " s ago have still not left");
    }
}

std::vector<std::uint8_t> Win32SerialLink::Input() {
    const int waiting = InBufferCount();
    const int wanted = input_len() == 0 ? waiting : std::min<int>(waiting, input_len());
    std::vector<std::uint8_t> got;
    got.reserve(static_cast<std::size_t>(wanted));
    if (wanted > 0 && held_) {
        got.push_back(*held_);
        held_.reset();
    }
    const auto rest = static_cast<DWORD>(wanted - static_cast<int>(got.size()));
    if (rest == 0) return got;
    Port& p = *port_;
    got.resize(got.size() + rest);
    OVERLAPPED ov{};
    ov.hEvent = p.io_done;
    ResetEvent(p.io_done);
    const long long n = p.run(ReadFile(p.file, got.data() + got.size() - rest, rest, nullptr, &ov), kSettleMs, ov);
    if (n < 0) fail(static_cast<DWORD>(-n), Win32Call::Read, "read failed");
    got.resize(got.size() - rest + static_cast<std::size_t>(n));
    return got;
}

void Win32SerialLink::fail(unsigned long code, Win32Call call, const std::string& what) {
    const int number = win32_error_number(code, call);
    const std::string cause = number == err::PortGone ? "the device was disconnected: " : std::string();
    break_with(Failure(number, device() + ": " + cause + what + ": " + system_words(code)));
}

}  // namespace vq
