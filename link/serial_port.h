#pragma once

#include <QSerialPort>
#include <QString>
#include <memory>

#include "link/port.h"

class QtEventPump;
class QSocketNotifier;

// What a device file allows us, for explaining a refused open.
struct DeviceAccess {
    bool readWrite = true;  // the user may read and write it
    QString group;          // the group that owns it ("dialout"); empty when unknown
};

// Why an open failed, in words for the user: "in use by another program", a missing group membership, or no
// such device. systemText is the system's own wording, used for anything else.
QString OpenFailureReason(QSerialPort::SerialPortError error, const DeviceAccess& access,
                          const QString& systemText);

// The cable's serial port at the DC's settings: 38400 baud, 8 data bits, no parity, 1 stop bit, no flow
// control, DTR and RTS on. Received bytes go to OnData as they arrive, then the pump is woken. A port that
// vanishes (the cable pulled) is closed quietly; what is sent after that goes nowhere.
class SerialPort final : public Port {
public:
    explicit SerialPort(QtEventPump* pump = nullptr);
    ~SerialPort() override;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // A Windows-style name ("COM3") or a device path ("/dev/ttyUSB0"). On failure *error says why.
    bool Open(const QString& nameOrPath, QString* error);
    bool IsOpen() const;
    void Close();

    void Discard() override;
    void Transmit(std::span<const std::uint8_t> bytes) override;

private:
    void DeliverReceived();
    void HandleError(QSerialPort::SerialPortError error);
    void Vanish();
    void WatchForHangUp();
    void StopWatchingForHangUp();

    QtEventPump* pump_;
    QSerialPort port_;
    std::unique_ptr<QSocketNotifier> hangUpWatch_;
    int hangUpFd_ = -1;  // a second descriptor of the port: Qt allows one read notifier per descriptor
    bool vanished_ = false;
    quint64 opened_ = 0;  // counts opens, so a close meant for a vanished port spares its successor
};
