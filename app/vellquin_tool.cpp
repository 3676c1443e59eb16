// The Vellquin Tool window.

#include <QApplication>

#include "link/event_clock.h"
#include "link/port_map.h"
#include "link/qt_serial_link.h"
#include "protocol/image_file.h"
#include "ui/form1.h"
#include "ui/qt_displays.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vellquin Tool"));
    QApplication::setApplicationDisplayName(QStringLiteral("Vellquin Tool"));

    const vq::PortMap ports = vq::PortMap::from_environment_or_system();
    vq::QtSerialLink link(ports);
    vq::EventClock clock;
    vq::LocalFileSystem files;
    vq::QtFileDialog dialog;

    vq::Form1 window({link, clock, files, dialog, nullptr, &ports});
    window.Form_Load();
    window.show();
    return QApplication::exec();
}
