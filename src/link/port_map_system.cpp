// The ports the system reports, through Qt.

#include <QSerialPortInfo>
#include <cstdlib>
#include <map>

#include "link/port_map.h"

namespace vq {

PortMap PortMap::from_system() {
    std::map<std::string, std::string> described;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
#ifdef _WIN32
        described[info.portName().toStdString()] = info.description().toStdString();
#else
        std::string text = info.description().toStdString();
        const std::string maker = info.manufacturer().toStdString();
        if (!maker.empty() && text.find(maker) == std::string::npos) text = text.empty() ? maker : maker + " " + text;
        described[info.systemLocation().toStdString()] = text;
#endif
    }
#ifdef _WIN32
    return windows_port_map(described);
#else
    return unix_port_map(described);
#endif
}

PortMap PortMap::from_environment_or_system() {
    const char* listed = std::getenv("VELLQUIN_PORTS");
    PortMap named = from_list(listed ? listed : "");
    return named.size() > 0 ? named : from_system();
}

}  // namespace vq
