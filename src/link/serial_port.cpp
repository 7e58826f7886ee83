#include "link/serial_port.h"

#include <QLockFile>
#include <QSocketNotifier>
#include <QTimer>

#include "link/qt_event_pump.h"

// Through QSerialPort, with the descriptor-level parts in serial_port_linux.cpp. Windows has a port of its
// own: serial_port_windows.cpp.

namespace {

constexpr qint32 kBaudRate = 38400;

PortOpenFailure FailureOf(QSerialPort::SerialPortError error) {
    switch (error) {
        case QSerialPort::DeviceNotFoundError:
            return PortOpenFailure::NotFound;
        case QSerialPort::PermissionError:
            return PortOpenFailure::NoPermission;
        default:
            return PortOpenFailure::Other;
    }
}

}  // namespace

SerialPort::SerialPort(QtEventPump* pump, SerialDriver* driver)
    : pump_(pump), driver_(driver != nullptr ? *driver : systemDriver_) {
    QObject::connect(&port_, &QSerialPort::readyRead, &port_, [this] { DeliverReceived(); });
    QObject::connect(&port_, &QSerialPort::errorOccurred, &port_,
                     [this](QSerialPort::SerialPortError error) { HandleError(error); });
}

SerialPort::~SerialPort() {
    Close();
}

bool SerialPort::Open(const QString& nameOrPath, PortOpenError* error) {
    Close();
    if (!LockCable(nameOrPath)) {
        if (error != nullptr)
            *error = {PortOpenFailure::NoPermission,
                      QStringLiteral("the cable is locked by another kav-update")};
        return false;
    }
    port_.setPortName(nameOrPath);
    port_.setBaudRate(kBaudRate);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!port_.open(QIODevice::ReadWrite)) {
        if (error != nullptr)
            *error = {FailureOf(port_.error()), port_.errorString()};
        port_.clearError();
        cableLock_.reset();
        return false;
    }
    // A pseudo-terminal has no modem lines; the DC does not need them to answer.
    port_.setDataTerminalReady(true);
    port_.setRequestToSend(true);
    port_.clearError();
    vanished_ = false;
    ++opened_;
    latency_ = RequestLowLatency(driver_, Descriptor(), nameOrPath);
    WatchReceived();
    if (OnOpened)
        OnOpened(latency_);
    return true;
}

bool SerialPort::IsOpen() const {
    return port_.isOpen() && !vanished_;
}

void SerialPort::Close() {
    StopWatchingReceived();
    if (port_.isOpen()) {
        if (!vanished_)
            RestoreLowLatency(driver_, Descriptor(), latency_);
        port_.close();
    }
    latency_.restoreFlags.reset();
    port_.clearError();
    cableLock_.reset();
}

void SerialPort::Transmit(std::span<const std::uint8_t> bytes) {
    if (!IsOpen() || bytes.empty())
        return;
    bytes = TransmitDirect(bytes);
    if (bytes.empty())
        return;
    const auto size = static_cast<qint64>(bytes.size());
    const qint64 written = port_.write(reinterpret_cast<const char*>(bytes.data()), size);
    if (written != size) {
        qWarning("Serial port %s: %lld of %lld bytes could not be sent: %s", qPrintable(port_.portName()),
                 static_cast<long long>(size - qMax<qint64>(written, 0)), static_cast<long long>(size),
                 qPrintable(port_.errorString()));
        return;
    }
    // Hand the bytes to the driver now: the caller may go on without running the event loop.
    port_.flush();
}

void SerialPort::DeliverReceived() {
    const QByteArray data = port_.readAll();
    Deliver(std::span(reinterpret_cast<const std::uint8_t*>(data.constData()),
                      static_cast<std::size_t>(data.size())));
}

void SerialPort::Deliver(std::span<const std::uint8_t> data) {
    if (!data.empty() && OnData)
        OnData(data);
    if (pump_ != nullptr)
        pump_->Wake();
}

void SerialPort::HandleError(QSerialPort::SerialPortError error) {
    // Failures of single operations (a modem line a pseudo-terminal lacks, one write) are not fatal: a reply
    // that does not come is the command's time-out.
    if (error == QSerialPort::ResourceError)
        Vanish();
    else if (error == QSerialPort::WriteError)
        qWarning("Serial port %s: sending failed: %s", qPrintable(port_.portName()),
                 qPrintable(port_.errorString()));
}

void SerialPort::Vanish() {
    if (vanished_ || !port_.isOpen())
        return;
    vanished_ = true;
    qInfo("Serial port %s is gone; closing it", qPrintable(port_.portName()));
    if (receivedWatch_)
        receivedWatch_->setEnabled(false);
    // Not from inside the port's own notification, which is still running.
    QTimer::singleShot(0, &port_, [this, which = opened_] {
        if (opened_ == which)
            Close();
    });
    if (pump_ != nullptr)
        pump_->Wake();
}
