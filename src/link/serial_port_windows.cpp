#include "link/serial_port.h"

#include <QSocketNotifier>

// Windows: Qt's own read and write paths, and no lock file.

bool SerialPort::LockCable(const QString& nameOrPath) {
    Q_UNUSED(nameOrPath);
    return true;
}

void SerialPort::Discard() {
    if (!IsOpen())
        return;
    port_.clear(QSerialPort::AllDirections);
}

std::span<const std::uint8_t> SerialPort::TransmitDirect(std::span<const std::uint8_t> bytes) {
    return bytes;
}

int SerialPort::Descriptor() {
    return -1;  // the driver's latency setting is the user's on Windows
}

void SerialPort::WatchReceived() {}

void SerialPort::ReadReceived() {}

void SerialPort::StopWatchingReceived() {
    receivedWatch_.reset();
    receivedFd_ = -1;
}
