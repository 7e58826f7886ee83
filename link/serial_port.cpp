#include "link/serial_port.h"

#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include "link/qt_event_pump.h"

#ifdef Q_OS_UNIX
#include <poll.h>
#include <unistd.h>
#endif

namespace {

constexpr qint32 kBaudRate = 38400;

DeviceAccess AccessOf(const QString& nameOrPath) {
    DeviceAccess access;
#ifdef Q_OS_UNIX
    // A bare name means a file in /dev, as QSerialPort reads it.
    const QFileInfo info(nameOrPath.startsWith(u'/') ? nameOrPath : QStringLiteral("/dev/") + nameOrPath);
    if (info.exists()) {
        access.readWrite = info.isReadable() && info.isWritable();
        access.group = info.group();
    }
#else
    Q_UNUSED(nameOrPath);
#endif
    return access;
}

}  // namespace

QString OpenFailureReason(QSerialPort::SerialPortError error, const DeviceAccess& access,
                          const QString& systemText) {
    switch (error) {
        case QSerialPort::DeviceNotFoundError:
            return QStringLiteral("there is no such device");
        case QSerialPort::PermissionError:
            // Windows and the lock file of other Unix programs say "busy" this way; only a device we may not
            // touch is a permission problem.
            if (access.readWrite)
                return QStringLiteral("it is in use by another program");
            if (access.group.isEmpty())
                return QStringLiteral("permission denied");
            return QStringLiteral(
                       "permission denied; the user must be a member of the group \"%1\" that "
                       "owns the device (log in again after joining it)")
                .arg(access.group);
        default:
            return systemText.isEmpty() ? QStringLiteral("unknown error") : systemText;
    }
}

SerialPort::SerialPort(QtEventPump* pump) : pump_(pump) {
    QObject::connect(&port_, &QSerialPort::readyRead, &port_, [this] { DeliverReceived(); });
    QObject::connect(&port_, &QSerialPort::errorOccurred, &port_,
                     [this](QSerialPort::SerialPortError error) { HandleError(error); });
}

SerialPort::~SerialPort() {
    Close();
}

bool SerialPort::Open(const QString& nameOrPath, QString* error) {
    Close();
    port_.setPortName(nameOrPath);
    port_.setBaudRate(kBaudRate);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!port_.open(QIODevice::ReadWrite)) {
        if (error != nullptr)
            *error = OpenFailureReason(port_.error(), AccessOf(nameOrPath), port_.errorString());
        port_.clearError();
        return false;
    }
    // A pseudo-terminal has no modem lines; the DC does not need them to answer.
    port_.setDataTerminalReady(true);
    port_.setRequestToSend(true);
    port_.clearError();
    vanished_ = false;
    ++opened_;
    WatchForHangUp();
    return true;
}

bool SerialPort::IsOpen() const {
    return port_.isOpen() && !vanished_;
}

void SerialPort::Close() {
    StopWatchingForHangUp();
    if (port_.isOpen())
        port_.close();
    port_.clearError();
}

void SerialPort::Discard() {
    if (!IsOpen())
        return;
    port_.clear(QSerialPort::Input);
    port_.clear(QSerialPort::Output);
}

void SerialPort::Transmit(std::span<const std::uint8_t> bytes) {
    if (!IsOpen() || bytes.empty())
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
    if (!data.isEmpty() && OnData)
        OnData(std::span(reinterpret_cast<const std::uint8_t*>(data.constData()),
                         static_cast<std::size_t>(data.size())));
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
    if (hangUpWatch_)
        hangUpWatch_->setEnabled(false);
    // Not from inside the port's own notification, which is still running.
    QTimer::singleShot(0, &port_, [this, which = opened_] {
        if (opened_ == which)
            Close();
    });
    if (pump_ != nullptr)
        pump_->Wake();
}

void SerialPort::WatchForHangUp() {
#ifdef Q_OS_UNIX
    // A hung-up terminal (the cable pulled) reads as end of file, which QSerialPort neither reports nor stops
    // polling for; without this the event loop would spin.
    hangUpFd_ = ::dup(static_cast<int>(port_.handle()));
    if (hangUpFd_ < 0)
        return;
    hangUpWatch_ = std::make_unique<QSocketNotifier>(hangUpFd_, QSocketNotifier::Read);
    QObject::connect(hangUpWatch_.get(), &QSocketNotifier::activated, &port_, [this] {
        pollfd probe{hangUpFd_, 0, 0};
        if (::poll(&probe, 1, 0) == 1 && (probe.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
            Vanish();
    });
#endif
}

void SerialPort::StopWatchingForHangUp() {
    hangUpWatch_.reset();
#ifdef Q_OS_UNIX
    if (hangUpFd_ >= 0)
        ::close(hangUpFd_);
#endif
    hangUpFd_ = -1;
}
