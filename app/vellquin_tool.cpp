// The Vellquin Tool window.

#include <QApplication>
#include <QIcon>
#include <QInputDialog>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "link/event_clock.h"
#include "link/port_map.h"
#include "link/port_sources.h"
#include "link/posix_serial_link.h"
#include "protocol/image_file.h"
#include "records/keeper.h"
#include "ui/qt/form1.h"
#include "ui/qt/station_window.h"
#include "ui/qt/qt_displays.h"

namespace {

const char* kHelp =
    "Usage: vellquin-tool [options]\n"
    "The Vellquin Tool window: sends a firmware image (a .bin file) to a device over a serial port.\n"
    "\n"
    "Options:\n"
    "  -h, --help     Show this help and exit.\n"
    "  -v, --version  Show the version and exit.\n"
    "  --station RECIPE  Open a production station for the recipe (a TOML file) instead of the window:\n"
    "                 a tile per jig slot, each board plugged in flashed, the operator changes nothing.\n"
    "Qt's own options (-platform NAME, -style NAME, ...) are accepted as well.\n"
    "\n";

// Until the window's application exists, Qt's messages are held back: when
// no display can be found Qt gives up with a fatal message about platform
// plugins, and the user is told in one plain line instead.
struct StartMessage {
    QtMsgType type;
    QString text;
};
std::vector<StartMessage> g_held;
bool g_starting = true;
QtMessageHandler g_qt_handler = nullptr;

void hold_start_messages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (!g_starting) return g_qt_handler(type, context, text);
    if (type == QtFatalMsg) {
        std::fputs("vellquin-tool: no display was found to open the window on; "
                   "vellquin-send sends without one\n",
                   stderr);
        std::_Exit(1);
    }
    g_held.push_back({type, text});
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "-h") || !std::strcmp(argv[i], "--help")) {
            std::printf("%s%s", kHelp, vq::kPortsEnvironmentHelp);
            return 0;
        }
        if (!std::strcmp(argv[i], "-v") || !std::strcmp(argv[i], "--version")) {
            std::printf("vellquin-tool %s\n", VQ_VERSION);
            return 0;
        }
    }

    g_qt_handler = qInstallMessageHandler(hold_start_messages);
    QApplication app(argc, argv);
    g_starting = false;
    qInstallMessageHandler(g_qt_handler);
    for (const StartMessage& m : g_held) g_qt_handler(m.type, QMessageLogContext(), m.text);

    // No application display name: the window manager would add it to the
    // window's caption, which is "Form1" and nothing else. The name is the
    // window's class, which docks match to the desktop entry of that name.
    const QString id = QStringLiteral("org.vellquin.VellquinTool");
    QApplication::setApplicationName(id);
    QApplication::setApplicationVersion(QStringLiteral(VQ_VERSION));
    QApplication::setDesktopFileName(id);  // its menu entry and icon
    QIcon icon;
    for (const char* size : {"48", "256"}) icon.addFile(QStringLiteral(":/icons/%1/%2.png").arg(size, id));
    // The icon built in: the theme's, once installed, is an SVG that Qt
    // draws only with its SVG plugin, and the window would show none. The
    // launcher takes the theme's from the desktop entry.
    QApplication::setWindowIcon(icon);

    // A production station, when asked for.
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--station") != 0) continue;
        auto opened = vq::station::station_to_run(argv[i + 1], std::getenv("VELLQUIN_RECORDS"));
        if (const auto* error = std::get_if<std::string>(&opened)) {
            std::fprintf(stderr, "vellquin-tool: %s\n", error->c_str());
            return 2;
        }
        auto& [recipe, records] = std::get<vq::station::StationToRun>(opened);
        // Who runs it, when the recipe asks: on every record.
        std::string operator_name;
        while (recipe.operator_required && operator_name.empty()) {
            bool ok = false;
            operator_name = QInputDialog::getText(nullptr, QString::fromStdString(recipe.name),
                                                  QStringLiteral("Who runs this station? Your name or badge:"),
                                                  QLineEdit::Normal, {}, &ok)
                                .trimmed()
                                .toStdString();
            if (!ok) return 0;
        }
        vq::StationWindow station(std::move(recipe), records, operator_name);
        station.showMaximized();
        return QApplication::exec();
    }

    // Each upload's record goes where VELLQUIN_RECORDS says, else into the
    // user's records file.
    std::string records_error;
    const auto records = vq::records::chosen_records_target({}, std::getenv("VELLQUIN_RECORDS"), &records_error);
    if (!records) {
        std::fprintf(stderr, "vellquin-tool: VELLQUIN_RECORDS: %s\n", records_error.c_str());
        return 2;
    }
    vq::records::RecordKeeper keeper(*records, vq::records::default_spool_file());
    vq::QtSettings settings;

    // The ports get their numbers once here, and keep them while the window
    // is open, as devices come and go.
    const auto source = vq::port_source_from_environment();
    vq::PortBook ports;
    ports.update(source->present());
    vq::PosixSerialLink link(ports.map());
    vq::EventClock clock;
    clock.wake_on([&link] { return link.handle(); });
    vq::LocalFileSystem files;
    vq::QtFileDialog dialog;

    vq::Form1 window({link, clock, files, dialog, nullptr, &ports, source.get(),
                      [&link](const vq::PortMap& numbers) { link.setPorts(numbers); }, &keeper, &settings});
    dialog.set_window(&window);
    link.set_drain_pause(vq::pause_heeding(clock, window.form().stop_request));
    window.Form_Load();
    window.show();
    return QApplication::exec();
}
