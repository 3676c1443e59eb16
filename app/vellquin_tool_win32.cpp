// vellquin-tool.exe: the window, on Windows.

#include "ui/win32/win32_api.h"

#include <dbt.h>

#include "link/port_sources.h"
#include "link/win32_serial_link.h"
#include "protocol/image_file.h"
#include "records/keeper.h"
#include "ui/win32/form1.h"
#include "ui/win32/message_clock.h"
#include "ui/win32/station_window.h"

#include <shellapi.h>

namespace {

// The station window until it is closed; a recipe that cannot be run is
// said in a box.
int run_station(const std::string& path, int show) {
    auto opened = vq::station::station_to_run(path, std::getenv("VELLQUIN_RECORDS"));
    if (const auto* error = std::get_if<std::string>(&opened)) {
        MessageBoxW(nullptr, vq::wide(*error).c_str(), L"Vellquin Tool", MB_OK);
        return 2;
    }
    auto& [recipe, records] = std::get<vq::station::StationToRun>(opened);
    // Who runs it, when the recipe asks: on every record.
    std::string operator_name;
    while (recipe.operator_required && operator_name.empty()) {
        const auto answer = vq::ask_text(nullptr, "Who runs this station? Your name or badge:", {});
        if (!answer) return 0;
        operator_name = *answer;
    }
    vq::Win32StationWindow station(std::move(recipe), records, operator_name);
    station.on_closed = [] { PostQuitMessage(0); };
    ShowWindow(station.window(), show == SW_SHOWDEFAULT || show == SW_SHOWNORMAL ? SW_SHOWMAXIMIZED : show);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) vq::dispatch(station.window(), message);
    return static_cast<int>(message.wParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) {
    // A production station, when asked for: vellquin-tool --station RECIPE.
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    std::string recipe_path;
    for (int i = 1; i + 1 < count; ++i)
        if (std::wstring(args[i]) == L"--station") recipe_path = vq::narrow(args[i + 1]);
    LocalFree(args);
    if (!recipe_path.empty()) return run_station(recipe_path, show);

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
