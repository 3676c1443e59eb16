#include "link/qt_serial_link.h"

#include <QElapsedTimer>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <type_traits>

#include "link/drain.h"
#include "link/port_errors.h"
#include "protocol/image_file.h"

namespace vq {
namespace {

// Enough for the slowest line we support to take a whole frame, with margin
// for a USB adapter that is slow to start.
constexpr qint64 kWriteBudgetMs = 2000;

// The port's handle, a descriptor or a Windows HANDLE, as a plain integer.
template <typename Handle>
std::intptr_t native(Handle handle) {
    if constexpr (std::is_pointer_v<Handle>)
        return reinterpret_cast<std::intptr_t>(handle);
    else
        return static_cast<std::intptr_t>(handle);
}

bool flush_driver(QSerialPort& port) { return drain_output(native(port.handle())); }

std::string describe(const QSerialPort& port) { return port.errorString().toStdString(); }

// Whether the device behind an open port went away: its node (and any link
// to it) vanishes with an unplug, and a pseudo-terminal's with its master.
// Windows keeps COM names, and tells an unplug by its kind of error alone.
bool device_gone(const std::string& device) {
#ifdef _WIN32
    (void)device;
    return false;
#else
    std::error_code ec;
    return !std::filesystem::exists(path_from_utf8(device), ec) && !ec;
#endif
}

}  // namespace

std::optional<LineSettings> parse_line_settings(std::string_view text) {
    std::vector<std::string> parts;
    std::string current;
    for (char ch : text) {
        if (ch == ',') {
            parts.push_back(current);
            current.clear();
        } else if (ch != ' ') {
            current += ch;
        }
    }
    parts.push_back(current);
    if (parts.size() != 4) return std::nullopt;

    LineSettings s;
    try {
        std::size_t used = 0;
        const long baud = std::stol(parts[0], &used);
        if (used != parts[0].size() || baud <= 0 || baud > 4000000) return std::nullopt;
        s.baud = static_cast<qint32>(baud);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    const std::string& p = parts[1];
    if (p == "N" || p == "n") s.parity = QSerialPort::NoParity;
    else if (p == "E" || p == "e") s.parity = QSerialPort::EvenParity;
    else if (p == "O" || p == "o") s.parity = QSerialPort::OddParity;
    else if (p == "M" || p == "m") s.parity = QSerialPort::MarkParity;
    else if (p == "S" || p == "s") s.parity = QSerialPort::SpaceParity;
    else return std::nullopt;

    if (parts[2] == "5") s.data_bits = QSerialPort::Data5;
    else if (parts[2] == "6") s.data_bits = QSerialPort::Data6;
    else if (parts[2] == "7") s.data_bits = QSerialPort::Data7;
    else if (parts[2] == "8") s.data_bits = QSerialPort::Data8;
    else return std::nullopt;

    if (parts[3] == "1") s.stop_bits = QSerialPort::OneStop;
    else if (parts[3] == "1.5") s.stop_bits = QSerialPort::OneAndHalfStop;
    else if (parts[3] == "2") s.stop_bits = QSerialPort::TwoStop;
    else return std::nullopt;
    return s;
}

QtSerialLink::QtSerialLink(PortMap ports, QObject* parent) : QObject(parent), ports_(std::move(ports)) {
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialLink::on_error);
}

QtSerialLink::~QtSerialLink() { port_.close(); }

std::string QtSerialLink::device() const {
    const PortEntry* e = ports_.entry(comm_port_);
    return e ? e->device : std::string();
}

void QtSerialLink::setCommPort(std::int16_t port) {
    if (port_.isOpen() && port != comm_port_)
        fail(err::PortOperationWhileOpen, QStringLiteral("the port number cannot change while the port is open"));
    if (port < 1) fail(err::PortInvalid, QStringLiteral("port numbers start at 1"));
    comm_port_ = port;
}

void QtSerialLink::setPortOpen(bool open) {
    if (!open) {
        port_.close();
        broken_.reset();
        return;
    }
    if (port_.isOpen())
        throw Failure(err::PortAlreadyOpen, "COM" + std::to_string(comm_port_) + " is already open");
    const PortEntry* entry = ports_.entry(comm_port_);
    if (!entry) throw Failure(err::PortInvalid, "COM" + std::to_string(comm_port_) + " names no serial device");

    broken_.reset();
    // A link (/dev/serial/by-id/...) is opened as the device it leads to, so
    // that its lock is the one every other program takes for that device.
    std::error_code ec;
    const auto real = std::filesystem::canonical(path_from_utf8(entry->device), ec);
    port_.setPortName(QString::fromStdString(ec || kThisPlatform == Platform::Windows ? entry->device
                                                                                       : utf8_from_path(real)));
    if (!port_.open(QIODevice::ReadWrite)) throw opening_failure(port_.error(), entry->device);
    try {
        apply(settings_);
    } catch (...) {
        port_.close();
        throw;
    }
}

Failure QtSerialLink::opening_failure(QSerialPort::SerialPortError error, const std::string& device) const {
    OpenFault fault = OpenFault::Other;
    switch (error) {
    case QSerialPort::DeviceNotFoundError: fault = OpenFault::NotFound; break;
    case QSerialPort::PermissionError: fault = OpenFault::Permission; break;
    case QSerialPort::OpenError: fault = OpenFault::AlreadyOpen; break;
    default: break;
    }
    const std::string text = port_.errorString().toStdString();
    const int number = opening_error_number(fault, text, kThisPlatform,
                                            QString::fromLocal8Bit(std::strerror(EBUSY)).toStdString());
    switch (number) {
    case err::PortAlreadyOpen: return Failure(number, device + ": held by another program");
    case err::PermissionDenied: return Failure(number, permission_problem(device));
    default: return Failure(number, device + ": " + text);
    }
}

bool QtSerialLink::PortOpen() const { return port_.isOpen(); }

void QtSerialLink::setSettings(std::string_view text) {
    const auto parsed = parse_line_settings(text);
    if (!parsed)
        throw Failure(err::InvalidPropertyValue, "malformed line settings \"" + std::string(text) + "\"");
    if (port_.isOpen()) apply(*parsed);
    settings_ = *parsed;
}

void QtSerialLink::apply(const LineSettings& s) {
    if (!port_.setBaudRate(s.baud) || !port_.setParity(s.parity) || !port_.setDataBits(s.data_bits) ||
        !port_.setStopBits(s.stop_bits) || !port_.setFlowControl(QSerialPort::NoFlowControl))
        throw Failure(err::SetCommStateFailed, device() + ": line settings refused: " + describe(port_));
}

void QtSerialLink::setInputLen(std::int16_t bytes) {
    if (bytes < 0) throw Failure(err::InvalidPropertyValue, "InputLen must not be negative");
    input_len_ = bytes;
}

void QtSerialLink::setRThreshold(std::int16_t bytes) {
    // Replies are polled; receive notifications are not offered.
    if (bytes != 0) throw Failure(err::InvalidPropertyValue, "only RThreshold 0 is supported");
}

void QtSerialLink::setInputMode(std::int32_t mode) {
    if (mode != 0 && mode != 1) throw Failure(err::InvalidPropertyValue, "InputMode is 0 or 1");
}

void QtSerialLink::setOutBufferCount(std::int16_t count) {
    if (count != 0) throw Failure(err::InvalidPropertyValue, "OutBufferCount can only be set to 0");
    require_open();
    // Output hands every byte to the driver before it returns, so this only
    // has work after an Output that failed half-way. clear(Output) would also
    // flush the driver, which on a pty destroys bytes already sent.
    if (port_.bytesToWrite() > 0) port_.clear(QSerialPort::Output);
}

void QtSerialLink::setInBufferCount(std::int16_t count) {
    if (count != 0) throw Failure(err::InvalidPropertyValue, "InBufferCount can only be set to 0");
    require_open();
    if (!port_.clear(QSerialPort::Input)) fail(err::ReadFailed, port_.errorString());
}

void QtSerialLink::Output(std::span<const std::uint8_t> bytes) {
    require_open();
    const auto size = static_cast<qint64>(bytes.size());
    if (port_.write(reinterpret_cast<const char*>(bytes.data()), size) != size)
        fail(err::WriteFailed, QStringLiteral("write refused: ") + port_.errorString());

    QElapsedTimer timer;
    timer.start();
    for (;;) {
        if (broken_) throw *broken_;  // the port failed (and closed) while sending
        if (port_.bytesToWrite() == 0) break;
        const qint64 left = kWriteBudgetMs - timer.elapsed();
        if (left <= 0) fail(err::WriteFailed, QStringLiteral("the device takes no data (write timed out)"));
        port_.waitForBytesWritten(static_cast<int>(left));
    }
    if (!flush_driver(port_))
        fail(err::WriteFailed, QStringLiteral("drain failed: ") + QString::fromLocal8Bit(std::strerror(errno)));
}

int QtSerialLink::InBufferCount() {
    require_open();
    // Bytes reach Qt's buffer only through events; fetch what the OS holds.
    if (port_.bytesAvailable() == 0) port_.waitForReadyRead(0);
    if (broken_) throw *broken_;
    return static_cast<int>(std::min<qint64>(port_.bytesAvailable(), std::numeric_limits<int>::max()));
}

std::vector<std::uint8_t> QtSerialLink::Input() {
    const int waiting = InBufferCount();
    const qint64 wanted = input_len_ == 0 ? waiting : input_len_;
    const QByteArray got = port_.read(wanted);
    return {got.begin(), got.end()};
}

void QtSerialLink::require_open() const {
    if (broken_) throw *broken_;
    if (!port_.isOpen()) throw Failure(err::PortNotOpen, "the port is not open");
}

void QtSerialLink::fail(int number, const QString& what) {
    if ((number == err::ReadFailed || number == err::WriteFailed) && device_gone(device())) number = err::PortGone;
    const Failure failure(number, device() + ": " + what.toStdString());
    if (port_.isOpen()) {
        broken_ = failure;
        port_.close();
    }
    throw failure;
}

void QtSerialLink::on_error(QSerialPort::SerialPortError error) {
    switch (error) {
    case QSerialPort::NoError:
    case QSerialPort::TimeoutError:    // a wait that ran out; not a fault
    case QSerialPort::NotOpenError:
        return;
    default:
        break;
    }
    if (!port_.isOpen() || broken_) return;  // opening errors are reported by setPortOpen
    const int number = error == QSerialPort::ResourceError || device_gone(device()) ? err::PortGone
                       : error == QSerialPort::WriteError                           ? err::WriteFailed
                                                                                    : err::ReadFailed;
    broken_ = Failure(number, device() + ": " + describe(port_));
    // Close on the first error: after an unplug Qt would otherwise report the
    // same error in a tight loop.
    port_.close();
}

}  // namespace vq
