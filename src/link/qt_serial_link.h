#pragma once
// The serial link over Qt SerialPort.
//
// Qt only queues on write() and only reads during event processing, so this
// class adds what the upload relies on: Output returns once every byte has
// left (bytesToWrite() down to 0, then the OS driver drained), and Input
// also takes bytes that reached the OS but were not yet picked up by an
// event. The first error of an open port (an unplugged adapter, for one)
// closes it at once; every later operation fails with that error until the
// port is opened again.

#include <QObject>
#include <QSerialPort>
#include <optional>

#include "link/port_map.h"
#include "protocol/failure.h"
#include "protocol/serial_link.h"

namespace vq {

struct LineSettings {
    qint32 baud = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits data_bits = QSerialPort::Data8;
    QSerialPort::StopBits stop_bits = QSerialPort::OneStop;
};

// Parses "115200,N,8,1"; nullopt when the text is malformed.
std::optional<LineSettings> parse_line_settings(std::string_view text);

class QtSerialLink final : public QObject, public SerialLink {
public:
    explicit QtSerialLink(PortMap ports, QObject* parent = nullptr);
    ~QtSerialLink() override;

    const PortMap& ports() const { return ports_; }
    void setPorts(PortMap ports) { ports_ = std::move(ports); }
    // The device the link has open, or would open next.
    std::string device() const;

    void setCommPort(std::int16_t port) override;
    std::int16_t CommPort() const override { return comm_port_; }
    void setPortOpen(bool open) override;
    bool PortOpen() const override;
    void setSettings(std::string_view settings) override;
    void setInputLen(std::int16_t bytes) override;
    void setRThreshold(std::int16_t bytes) override;
    void setInputMode(std::int32_t mode) override;
    void setOutBufferCount(std::int16_t count) override;
    void setInBufferCount(std::int16_t count) override;
    int InBufferCount() override;
    void Output(std::span<const std::uint8_t> bytes) override;
    std::vector<std::uint8_t> Input() override;

private:
    void require_open() const;
    void apply(const LineSettings& settings);
    [[noreturn]] void fail(int number, const QString& what);
    void on_error(QSerialPort::SerialPortError error);
    Failure opening_failure(QSerialPort::SerialPortError error, const std::string& device) const;

    PortMap ports_;
    QSerialPort port_;
    std::int16_t comm_port_ = 1;
    std::int16_t input_len_ = 0;
    LineSettings settings_;
    std::optional<Failure> broken_;  // the error that closed the port
};

}  // namespace vq
