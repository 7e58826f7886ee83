#pragma once

#include <QString>
#include <QtGlobal>
#ifndef Q_OS_WIN
#include <QSerialPort>
#endif
#include <memory>

#include "link/cable_diagnosis.h"
#include "link/low_latency.h"
#include "link/port.h"

class QLockFile;
class QtEventPump;
class QSocketNotifier;

// The cable's serial port at the DC's settings: 38400 baud, 8 data bits, no parity, 1 stop bit, no flow
// control, DTR and RTS on, the driver asked for low latency (given back at close). Received bytes go to
// OnData as they arrive, then the pump is woken. A port that vanishes (the cable pulled) is closed quietly;
// what is sent after that goes nowhere. While open, it holds the cable's lock file: a second kav-update on
// the same cable is refused at once.
class SerialPort final : public Port {
public:
    explicit SerialPort(QtEventPump* pump = nullptr, SerialDriver* driver = nullptr);
    ~SerialPort() override;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // A Windows-style name ("COM3") or a device path ("/dev/ttyUSB0"). On failure *error says how.
    bool Open(const QString& nameOrPath, PortOpenError* error);
    bool IsOpen() const;
    void Close();

    void Discard() override;
    void Transmit(std::span<const std::uint8_t> bytes) override;

    // What the last open got of the driver's low latency; OnOpened hears it too.
    const LowLatency& Latency() const { return latency_; }
    std::function<void(const LowLatency&)> OnOpened;

private:
    void Deliver(std::span<const std::uint8_t> data);
    void Vanish();

    QtEventPump* pump_;
    SystemSerialDriver systemDriver_;
    SerialDriver& driver_;
    LowLatency latency_;
    bool vanished_ = false;
    quint64 opened_ = 0;  // counts opens, so a close meant for a vanished port spares its successor

#ifdef Q_OS_WIN
    // Windows has no QSerialPort here: the port's handle, with one overlapped read always waiting, whose
    // completion the event loop hears (serial_port_windows.cpp).
    struct Line;
    bool StartRead();
    void ReadCompleted();
    std::unique_ptr<Line> line_;
#else
    // Through QSerialPort; the descriptor-level parts are in serial_port_linux.cpp.
    int Descriptor();
    // What the driver took at once is cut off the front; the rest goes Qt's way.
    std::span<const std::uint8_t> TransmitDirect(std::span<const std::uint8_t> bytes);
    void DeliverReceived();
    void HandleError(QSerialPort::SerialPortError error);
    void WatchReceived();
    void ReadReceived();
    void StopWatchingReceived();
    bool LockCable(const QString& nameOrPath);

    QSerialPort port_;
    std::unique_ptr<QLockFile> cableLock_;
    std::unique_ptr<QSocketNotifier> receivedWatch_;
    int receivedFd_ = -1;
#endif
};
