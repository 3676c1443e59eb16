#pragma once
// The command line of vellquin-send.

#include <QString>
#include <QStringList>
#include <optional>
#include <string>

#include "protocol/upload.h"

namespace vq::cli {

struct SendOptions {
    bool help = false;
    bool version = false;
    bool list = false;
    std::optional<std::string> port;  // as given: COMn or a device path
    std::string trace;                // where to write the trace; empty for none
    std::optional<double> timeout;    // seconds, more than 0
    Pace pace = Pace::Fixed;
    std::string file;                 // the image, UTF-8
};

struct ParsedSendOptions {
    SendOptions options;
    std::string error;  // a usage error in plain words; empty when the line is good
};

// `arguments` starts with the program's name, as QCoreApplication::arguments().
ParsedSendOptions parse_send_options(const QStringList& arguments);

// The text of --help.
QString send_help();

}  // namespace vq::cli
