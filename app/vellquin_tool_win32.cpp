// vellquin-tool.exe: the window, on Windows.

#include "ui/win32/win32_api.h"

#include <dbt.h>

#include "link/port_sources.h"
#include "link/win32_serial_link.h"
#include "protocol/image_file.h"
#include "records/keeper.h"
#include "ui/win32/form1.h"
#include "ui/win32/message_clock.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) {
    // Each upload's record goes where VELLQUIN_RECORDS says, else into the
    // user's records file.
    const wchar_t* named = _wgetenv(L"VELLQUIN_RECORDS");
    const std::string records_env = named ? vq::narrow(named) : std::string();
    std::string records_error;
    const auto records =
        vq::records::chosen_records_target({}, named ? records_env.c_str() : nullptr, &records_error);
    if (!records) {
        MessageBoxW(nullptr, vq::wide("VELLQUIN_RECORDS: " + records_error).c_str(), L"Vellquin Tool", MB_OK);
        return 2;
    }
    vq::records::RecordKeeper keeper(*records, vq::records::default_spool_file());
    vq::RegistrySettings settings;

    // The book looks again as devices come and go; on Windows a port's number
    // is its COM number at every look, also after Device Manager renumbers it.
    const auto source = vq::port_source_from_environment();
    vq::PortBook ports;
    ports.update(source->present());
    vq::Win32SerialLink link(vq::openable_ports(ports, *source));
    vq::MessageClock clock;
    clock.wake_on([&link] { return link.handle(); });
    vq::LocalFileSystem files;
    vq::Win32FileDialog dialog;

    vq::Win32Form1 window({link, clock, files, dialog, nullptr, &ports, source.get(),
                           [&](const vq::PortMap&) { link.setPorts(vq::openable_ports(ports, *source)); }, &keeper,
                           &settings});
    dialog.set_owner(window.window());
    link.set_drain_pause(vq::pause_heeding(clock, window.form().form().stop_request));
    clock.set_window(window.window());
    window.on_closed = [] { PostQuitMessage(0); };
    window.form().Form_Load();
    ShowWindow(window.window(), show);
    UpdateWindow(window.window());

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) vq::dispatch(window.window(), message);
    return static_cast<int>(message.wParam);
}
