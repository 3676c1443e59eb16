// The Win32 window with its real serial link, against the simulated device
// that the harness puts behind COM2 (vq_wine_tests runs this under Wine on a
// virtual display); a file dialog and message boxes of the test's own.
// VQ_DEVICE_OUT names the file the device writes each image it receives to.

#include "ui/win32/form1.h"

#include <commctrl.h>
#include <dlgs.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "link/port_sources.h"
#include "link/win32_serial_link.h"
#include "protocol/frame.h"
#include "protocol/failure.h"
#include "protocol/image_file.h"
#include "protocol/wait.h"
#include "support/recording_host.h"
#include "ui/win32/message_clock.h"
#include "ui/win32/win32_controls.h"
#include "records/file_hash.h"
#include "records/keeper.h"
#include "station/recipe.h"
#include "ui/win32/station_window.h"

namespace vq {
namespace {

class ChosenFile final : public FileDialog {
public:
    void ShowOpen(std::function<void()> closed) override {
        name = next;
        closed();
    }
    std::string FileName() const override { return name; }
    std::string next, name;
};

std::vector<std::uint8_t> read_all(const std::string& path) {
    std::ifstream in(path_from_utf8(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Text4's texts and the bar's positions as the controls receive them; `on_text`
// runs on each.
struct Recorded {
    std::vector<std::string> percent;
    std::vector<int> bar;
    std::function<void(const std::string&)> on_text;
};

LRESULT CALLBACK record(HWND window, UINT message, WPARAM w, LPARAM l, UINT_PTR, DWORD_PTR data) {
    auto* r = reinterpret_cast<Recorded*>(data);
    if (message == WM_SETTEXT) {
        const std::string text = narrow(reinterpret_cast<const wchar_t*>(l));
        if (text.ends_with('%')) r->percent.push_back(text);
        if (r->on_text) r->on_text(text);
    }
    if (message == PBM_SETPOS && w > 0) r->bar.push_back(static_cast<int>(w));
    return DefSubclassProc(window, message, w, l);
}

struct WindowRig {
    WindowRig() {
        book.update(source.present());
        link.setPorts(openable_ports(book, source));
        clock.wake_on([this] { return link.handle(); });
        clock.set_window(window.window());
        SetWindowSubclass(window.Text4, record, 1, reinterpret_cast<DWORD_PTR>(&recorded));
        SetWindowSubclass(window.ProgressBar1, record, 1, reinterpret_cast<DWORD_PTR>(&recorded));
        window.form().Form_Load();
        window.show();
    }
    ~WindowRig() {
        if (!window.closed()) {
            RemoveWindowSubclass(window.Text4, record, 1);
            RemoveWindowSubclass(window.ProgressBar1, record, 1);
        }
    }
    // Chooses `image` with Open file, as a click does.
    std::string choose(const std::vector<std::uint8_t>& image) {
        const auto path = std::filesystem::temp_directory_path() / "vq-window-test.bin";
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(image.data()),
                                                     static_cast<std::streamsize>(image.size()));
        dialog.next = utf8_from_path(path);
        SendMessageW(window.Command1, BM_CLICK, 0, 0);
        return dialog.next;
    }
    SystemPortSource source;
    PortBook book;
    Win32SerialLink link;
    MessageClock clock;
    LocalFileSystem files;
    ChosenFile dialog;
    test::RecordingMessages messages;
    records::RecordKeeper records{{}, "spool.sqlite"};
    RegistrySettings settings;
    std::optional<std::string> answer;  // to where records go
    Win32Form1 window{{link, clock, files, dialog, &messages, &book, &source, {}, &records, &settings,
                       [this](const std::string&, const std::string&) { return answer; }}};
    Recorded recorded;
};

std::vector<std::uint8_t> pattern(std::size_t size) {
    std::vector<std::uint8_t> image(size);
    for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    return image;
}

TEST(Win32Window, StartsCaptionedForm1AtItsSizeWithTheHelpAndCom2TheOnePortFound) {
    WindowRig rig;
    EXPECT_EQ(window_text(rig.window.window()), "Form1");
    RECT client{};
    GetClientRect(rig.window.window(), &client);
    const SIZE expected = client_size(GetDpiForWindow(rig.window.window()));
    EXPECT_EQ(client.right, expected.cx);
    EXPECT_EQ(client.bottom, expected.cy);
    EXPECT_EQ(window_text(rig.window.Text2), help_text());
    Win32ComboList ports(rig.window.Combo1);
    ASSERT_EQ(ports.ListCount(), 1);
    EXPECT_EQ(ports.List(0), "COM2");
    EXPECT_EQ(window_text(rig.window.Combo1), "COM2");
    EXPECT_EQ(window_text(rig.window.StatusLine), "COM2");
}

TEST(Win32Window, SendDataShowsEveryPercentageSaysSendingFinishedAndTheImageArrives) {
    WindowRig rig;
    const auto image = pattern(4000);
    const std::string file = rig.choose(image);
    EXPECT_EQ(window_text(rig.window.Text1), file);
    SendMessageW(rig.window.Command2, BM_CLICK, 0, 0);  // returns once the upload has ended
    EXPECT_EQ(rig.recorded.percent, (std::vector<std::string>{"25%", "51%", "76%", "100%"}));
    EXPECT_EQ(rig.recorded.bar, (std::vector<int>{25, 51, 76, 100}));
    EXPECT_EQ(rig.messages.shown, std::vector<std::string>{"Sending Finished!"});
    EXPECT_TRUE(IsWindowEnabled(rig.window.Command1)) << "Open file is usable again";
    EXPECT_EQ(window_text(rig.window.StatusLine).rfind("Sent 4000 bytes in 4 blocks", 0), 0u) << window_text(rig.window.StatusLine);
    EXPECT_FALSE(rig.link.PortOpen());
    const auto got = read_all(std::getenv("VQ_DEVICE_OUT"));
    ASSERT_EQ(got.size(), 4096u);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), got.begin())) << "byte for byte";
}

// What a click posted during the blocks does, once 25% shows.
TEST(Win32Window, StopDuringTheBlocksSaysSendingFinisedAndClosingReleasesThePortWithoutABox) {
    for (const bool close : {false, true}) {
        SCOPED_TRACE(close ? "closing the window" : "Stop");
        WindowRig rig;
        rig.choose(pattern(20000));
        rig.recorded.on_text = [&](const std::string& text) {
            if (text != "25%") return;
            if (close) PostMessageW(rig.window.window(), WM_CLOSE, 0, 0);
            else PostMessageW(rig.window.Command3, BM_CLICK, 0, 0);
        };
        SendMessageW(rig.window.Command2, BM_CLICK, 0, 0);
        ASSERT_FALSE(rig.recorded.percent.empty());
        EXPECT_NE(rig.recorded.percent.back(), "100%");
        EXPECT_EQ(rig.messages.shown, close ? std::vector<std::string>{} : std::vector<std::string>{"Sending Finised!"});
        EXPECT_EQ(rig.window.closed(), close);
        Win32SerialLink again(PortMap::from_environment_or_system());
        again.setCommPort(2);
        EXPECT_NO_THROW(again.setPortOpen(true)) << "the port is free";
    }
}

// Where each control sits, in twips of the client area, at 96 and at 144
// DPI (a move to a monitor of another DPI), and the port list's entries
// measured at the window's DPI.
TEST(Win32Window, EveryControlAndThePortListsEntriesTakeTheirPlaceAtTheWindowsDpi) {
    WindowRig rig;
    const struct {
        HWND Win32Form1::*control;
        int left, top, width, height;
    } places[] = {
        {&Win32Form1::Label4, 3720, 240, 2655, 615},   {&Win32Form1::Text1, 240, 1080, 7935, 495},
        {&Win32Form1::Command1, 8400, 1080, 1935, 495}, {&Win32Form1::Text2, 240, 1800, 5200, 1950},
        {&Win32Form1::Text4, 5760, 1800, 855, 495},     {&Win32Form1::ProgressBar1, 6840, 1800, 3495, 495},
        {&Win32Form1::Label1, 5760, 2640, 2415, 375},   {&Win32Form1::Command2, 6840, 3240, 1815, 735},
        {&Win32Form1::Command3, 8760, 3240, 1575, 735},
        {&Win32Form1::StatusLine, 240, kClientHeight, kStatusWidth, kStatusHeight - 60},
        {&Win32Form1::ConsoleToggle, kClientWidth - 360 - kToggleWidth - kProtocolWidth - kConsoleToggleWidth,
         kClientHeight, kConsoleToggleWidth, kStatusHeight - 60},
        {&Win32Form1::ReplyPacing, kClientWidth - 240 - kToggleWidth, kClientHeight, kToggleWidth, kStatusHeight - 60},
    };
    for (const UINT dpi : {96u, 144u}) {
        RECT suggested{};
        GetWindowRect(rig.window.window(), &suggested);
        SendMessageW(rig.window.window(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        auto px = [dpi](int twips) { return MulDiv(twips, static_cast<int>(dpi), 1440); };
        for (const auto& p : places) {
            RECT r{};
            GetWindowRect(rig.window.*p.control, &r);
            MapWindowPoints(nullptr, rig.window.window(), reinterpret_cast<POINT*>(&r), 2);
            const RECT expected{px(p.left), px(p.top), px(p.left) + px(p.width), px(p.top) + px(p.height)};
            EXPECT_TRUE(EqualRect(&r, &expected)) << dpi << " dpi, control at twips " << p.left << "," << p.top;
        }
        const int entry = MulDiv(24, static_cast<int>(dpi), 96);
        EXPECT_EQ(SendMessageW(rig.window.Combo1, CB_GETITEMHEIGHT, 0, 0), entry) << dpi;
        // The selection field as high as an entry (Wine counts 2 pixels of border in it).
        const LRESULT field = SendMessageW(rig.window.Combo1, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
        EXPECT_GE(field, entry) << dpi << " dpi";
        EXPECT_LE(field, entry + 2) << dpi << " dpi";
    }
}

TEST(Win32Window, TheProtocolChoiceStartsAsDeviceAndAStandardOneTurnsTheToggleIntoItsStartWait) {
    WindowRig rig;
    const HWND choice = rig.window.ProtocolChoice;
    EXPECT_EQ(SendMessageW(choice, CB_GETCOUNT, 0, 0), 4);
    EXPECT_EQ(window_text(choice), "device protocol");
    SendMessageW(choice, CB_SETCURSEL, 2, 0);
    SendMessageW(rig.window.window(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(choice), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(choice));
    EXPECT_EQ(window_text(rig.window.ReplyPacing), "Start wait: 60 s");
    EXPECT_EQ(window_text(rig.window.StatusLine), "COM2 \u00B7 XMODEM-1K, when the receiver asks within 60 s");
}

// The link alone, against the device behind COM2: COM2 and \\.\COM2 are one
// port, and the byte that the read armed for a wait took comes first, one
// byte at a time with InputLen 1.
TEST(Win32Link, ComNAndItsDevicePathAreOnePortAndTheArmedByteComesFirst) {
    Win32SerialLink link(PortMap(std::vector<PortEntry>{{"COM2", ""}}));
    Win32SerialLink same(PortMap(std::vector<PortEntry>{{"\\\\.\\COM2", ""}}));
    link.setCommPort(1);
    same.setCommPort(1);
    link.setPortOpen(true);
    try {
        same.setPortOpen(true);
        ADD_FAILURE() << "\\\\.\\COM2 opened while COM2 was open";
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), err::PortAlreadyOpen) << f.what();
    }
    link.setSettings("115200,N,8,1");
    link.setInputLen(1);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(link.file(), &dcb));
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_FALSE(dcb.fOutxCtsFlow || dcb.fOutxDsrFlow || dcb.fDsrSensitivity || dcb.fOutX || dcb.fInX)
        << "no flow control of any kind";

    FrameBuffers frames;
    frames.set_control_byte(wire::WAKE);
    link.Output(frames.frame());  // answered with C
    ASSERT_EQ(WaitForSingleObject(link.handle(), 2000), WAIT_OBJECT_0) << "the armed read took the C";
    const std::vector<std::uint8_t> block(1024, 0x5A);
    frames.build(block, 1024, 0, 1);
    link.Output(frames.frame());  // answered with ACK
    for (int i = 0; i < 200 && link.InBufferCount() < 2; ++i) Sleep(10);
    EXPECT_EQ(link.Input(), std::vector<std::uint8_t>{'C'});
    EXPECT_EQ(link.Input(), std::vector<std::uint8_t>{wire::ACK});
    EXPECT_TRUE(link.Input().empty());

    // A wait wakes as soon as the answer arrives, and a byte left unread
    // does not make the next wait spin.
    MessageClock clock;
    clock.wake_on([&] { return link.handle(); });
    frames.set_control_byte(wire::EOT);
    link.Output(frames.frame());  // answered with ACK
    double start = clock.now();
    wait_seconds(1.0f, clock, [&] { return link.InBufferCount() > 0; });
    EXPECT_LT(clock.now() - start, 0.3);
    auto cpu = [] {
        FILETIME created, ended, kernel, user;
        GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
        auto seconds = [](FILETIME t) { return (t.dwHighDateTime * 4294967296.0 + t.dwLowDateTime) / 1e7; };
        return seconds(kernel) + seconds(user);
    };
    const double cpu_before = cpu();
    start = clock.now();
    wait_seconds(0.3f, clock, [] { return false; });
    EXPECT_GE(clock.now() - start, 0.3);
    EXPECT_LT(cpu() - cpu_before, 0.1) << "the unread byte made the wait spin";
    link.setPortOpen(false);
}

// A user's choice in the list is announced before the box shows it: the
// port acted on is the one the box shows once the notice has been handled.
TEST(Win32Window, APortChosenFromTheListIsActedOnWithTheTextTheBoxThenShows) {
    WindowRig rig;
    const HWND box = rig.window.Combo1;
    SetWindowTextW(box, L"COM7");
    SendMessageW(rig.window.window(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(box), CBN_EDITCHANGE), reinterpret_cast<LPARAM>(box));
    ASSERT_NE(window_text(rig.window.StatusLine), "COM2");
    SendMessageW(rig.window.window(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(box), CBN_SELCHANGE), reinterpret_cast<LPARAM>(box));
    SetWindowTextW(box, L"COM2");  // as the box does after its notice
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    EXPECT_EQ(window_text(rig.window.StatusLine), "COM2");
}

// Handles the window's messages until `done` holds, 20 s at most.
bool pump_until(const std::function<bool()>& done) {
    for (int i = 0; i < 1000 && !done(); ++i) {
        MSG message{};
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        Sleep(20);
    }
    return done();
}

// The system's own Open dialog on its thread: a second request while it is
// open is ignored at once, and a cancel keeps the file chosen before.
TEST(Win32FileDialog, ASecondRequestWhileOpenIsIgnoredAndACancelKeepsTheFileChosenBefore) {
    WindowRig rig;  // the owner, which runs what the dialog's thread hands back
    const auto path = std::filesystem::temp_directory_path() / "vq-dialog-test.bin";
    std::ofstream(path) << "image";
    Win32FileDialog dialog;
    dialog.set_owner(rig.window.window());
    int closed = 0;
    HWND box = nullptr, file_name = nullptr;
    const auto dialog_shown = [&] {  // with its file name box (cmb13 on Windows, edt1 in Wine)
        box = FindWindowW(L"#32770", nullptr);
        if (!box || GetWindow(box, GW_OWNER) != rig.window.window()) return false;
        file_name = GetDlgItem(box, cmb13) ? GetDlgItem(box, cmb13) : GetDlgItem(box, edt1);
        return file_name != nullptr && IsWindowVisible(box);
    };
    dialog.ShowOpen([&] { ++closed; });
    dialog.ShowOpen([&] { closed += 10; });
    ASSERT_TRUE(pump_until(dialog_shown));
    const std::wstring name = path.wstring();
    SetWindowTextW(file_name, name.c_str());
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(pump_until([&] { return closed > 0; }));
    EXPECT_EQ(closed, 1) << "the second request was ignored";
    EXPECT_TRUE(dialog.FileName().ends_with("vq-dialog-test.bin")) << dialog.FileName();

    const std::string chosen = dialog.FileName();
    dialog.ShowOpen([&] { ++closed; });
    ASSERT_TRUE(pump_until(dialog_shown));
    PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(pump_until([&] { return closed > 1; }));
    EXPECT_EQ(dialog.FileName(), chosen);
}

// A WM_QUIT that an upload's wait takes is posted again, for the program's
// own loop to end on.
TEST(Win32Window, AQuitTakenInsideAnUploadsWaitIsPostedAgain) {
    WindowRig rig;
    rig.choose(pattern(4000));
    rig.recorded.on_text = [](const std::string& text) {
        if (text == "25%") PostQuitMessage(7);
    };
    SendMessageW(rig.window.Command2, BM_CLICK, 0, 0);
    MSG message{};
    ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 7u);
}

TEST(Win32Window, WithAnEmptyPathBoxSendDataSendsNothing) {
    WindowRig rig;
    rig.choose(pattern(100));
    SetWindowTextW(rig.window.Text1, L"");
    SendMessageW(rig.window.Command2, BM_CLICK, 0, 0);
    EXPECT_TRUE(rig.messages.shown.empty());
    EXPECT_TRUE(rig.recorded.percent.empty());
    EXPECT_FALSE(rig.link.PortOpen()) << "not even opened";
}

// The console pane below the status row holds the port while no upload runs,
// sends each line ended with Enter, and hands the port to Send Data.
TEST(Win32Window, TheConsolePaneGrowsTheWindowTakesTypedLinesAndLeavesThePortToAnUpload) {
    WindowRig rig;
    SendMessageW(rig.window.ConsoleToggle, BM_CLICK, 0, 0);
    RECT client{};
    GetClientRect(rig.window.window(), &client);
    EXPECT_EQ(client.bottom, client_size(GetDpiForWindow(rig.window.window()), true).cy);
    EXPECT_TRUE(IsWindowVisible(rig.window.ConsoleText));
    ASSERT_TRUE(pump_until([&] { return window_text(rig.window.ConsoleText).find("COM2 open") != std::string::npos; }))
        << window_text(rig.window.ConsoleText);
    rig.choose(pattern(2000));
    SendMessageW(rig.window.Command2, BM_CLICK, 0, 0);
    EXPECT_EQ(rig.messages.shown, std::vector<std::string>{"Sending Finished!"});
    SetWindowTextW(rig.window.ConsoleInput, L"help");  // after the upload: the device takes no text
    EXPECT_EQ(SendMessageW(rig.window.ConsoleInput, WM_GETDLGCODE, VK_RETURN, 0) & DLGC_WANTALLKEYS, DLGC_WANTALLKEYS);
    SendMessageW(rig.window.ConsoleInput, WM_CHAR, VK_RETURN, 0);
    EXPECT_EQ(window_text(rig.window.ConsoleInput), "") << "Enter sent the line";
    SendMessageW(rig.window.ConsoleToggle, BM_CLICK, 0, 0);
    GetClientRect(rig.window.window(), &client);
    EXPECT_EQ(client.bottom, client_size(GetDpiForWindow(rig.window.window())).cy);
    EXPECT_FALSE(rig.link.PortOpen()) << "hidden, the pane holds no port";
}

// The system menu asks where records go; the answer is remembered in the
// registry for the next run.
TEST(Win32Window, TheSystemMenuChoosesWhereRecordsGoAndTheRegistryRemembersIt) {
    WindowRig rig;
    EXPECT_NE(GetMenuState(GetSystemMenu(rig.window.window(), FALSE), Win32Form1::kRecordsCommand, MF_BYCOMMAND),
              static_cast<UINT>(-1));
    rig.answer = "sqlite:C:\\records\\line-1.sqlite";
    SendMessageW(rig.window.window(), WM_SYSCOMMAND, Win32Form1::kRecordsCommand, 0);
    EXPECT_EQ(records::records_target_text(rig.records.target()), "sqlite:C:\\records\\line-1.sqlite");
    EXPECT_EQ(RegistrySettings().get(kRecordsSetting), "sqlite:C:\\records\\line-1.sqlite");
    EXPECT_EQ(window_text(rig.window.StatusLine), "Records go to sqlite:C:\\records\\line-1.sqlite from now on");
    WindowRig next;  // the next run
    EXPECT_EQ(records::records_target_text(next.records.target()), "sqlite:C:\\records\\line-1.sqlite");
    RegistrySettings().set(kRecordsSetting, "");
}

// The station window: the board on COM2 waits for its scanned serial, the
// slot flashes it, its tile says PASS and the header counts it; at 144 DPI
// its type grows by half.
TEST(Win32Station, TheBoardInTheSlotIsFlashedOnItsScanAndItsTileSaysPass) {
    const auto image = pattern(3000);
    const auto path = std::filesystem::temp_directory_path() / "vq-station-fw.bin";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    const auto recipe_path = std::filesystem::temp_directory_path() / "vq-station.toml";
    std::ofstream(recipe_path) << "name = \"Board X\"\nimage = \"vq-station-fw.bin\"\nsha256 = \""
                               << records::sha256_hex(image)
                               << "\"\nunit_serial = { mode = \"scan\" }\n[[slot]]\nname = \"A\"\nport = \"COM2\"\n";
    auto recipe = station::load_recipe(utf8_from_path(recipe_path));
    ASSERT_TRUE(std::holds_alternative<station::Recipe>(recipe)) << std::get<std::string>(recipe);
    Win32StationWindow station(std::get<station::Recipe>(std::move(recipe)), {});
    ShowWindow(station.window(), SW_SHOW);
    EXPECT_EQ(window_text(station.Title), "Board X");
    ASSERT_TRUE(pump_until([&] { return station.tiles().at(0).asks; })) << window_text(station.Tiles.at(0));
    SetWindowTextW(station.Scan, L"VQ-1");
    SendMessageW(station.Scan, WM_CHAR, VK_RETURN, 0);
    ASSERT_TRUE(pump_until([&] { return station.tiles().at(0).state == station::Tile::State::Passed; }))
        << window_text(station.Tiles.at(0));
    EXPECT_EQ(station.tiles()[0].unit, "VQ-1");
    EXPECT_EQ(window_text(station.Tiles[0]).rfind("\u2714 PASS", 0), 0u) << window_text(station.Tiles[0]);
    const std::string detail = window_text(station.Detail);
    EXPECT_TRUE(detail.ends_with("passed 1, failed 0, first-pass yield 100%")) << detail;
    const auto title_height = [&] {
        LOGFONTW font{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(station.Title, WM_GETFONT, 0, 0)), sizeof font, &font);
        return font.lfHeight;
    };
    RECT bigger{0, 0, 1536, 1080};
    SendMessageW(station.window(), WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&bigger));
    EXPECT_EQ(title_height(), -40) << "20 points at 144 DPI";
}

}  // namespace
}  // namespace vq
