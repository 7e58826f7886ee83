#include "link/serial_port.h"

#include <QLockFile>
#include <QSocketNotifier>
#include <QTimer>
#include <utility>

#include "link/qt_event_pump.h"

#ifdef Q_OS_UNIX
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#endif

namespace {

constexpr qint32 kBaudRate = 38400;

#ifdef Q_OS_UNIX
bool ProcessAlive(qint64 pid) {
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}
#endif

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

bool SerialPort::LockCable(const QString& nameOrPath) {
#ifdef Q_OS_UNIX
    auto lock = std::make_unique<QLockFile>(CableLockPath(nameOrPath));
    lock->setStaleLockTime(0);  // stale only when its program is gone, however long the update takes
    if (!lock->tryLock(0)) {
        qint64 pid = 0;
        QString host, program;
        if (lock->error() == QLockFile::LockFailedError && lock->getLockInfo(&pid, &host, &program) &&
            ProcessAlive(pid))
            return false;
        // A lock we cannot take and nobody holds (left by another user, in a folder we may not clean up)
        // must not keep the cable from us; the device's own exclusive open still guards it.
        return true;
    }
    cableLock_ = std::move(lock);
#else
    Q_UNUSED(nameOrPath);
#endif
    return true;
}

bool SerialPort::Open(const QString& nameOrPath, PortOpenError* error) {
    Close();
    if (!LockCable(nameOrPath)) {
        if (error != nullptr)
            *error = {QSerialPort::PermissionError,
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
            *error = {port_.error(), port_.errorString()};
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

void SerialPort::Discard() {
    if (!IsOpen())
        return;
#ifdef Q_OS_UNIX
    ::tcflush(Descriptor(), TCIOFLUSH);  // one call for both queues: the driver flushes input, then output
#else
    port_.clear(QSerialPort::AllDirections);
#endif
}

void SerialPort::Transmit(std::span<const std::uint8_t> bytes) {
    if (!IsOpen() || bytes.empty())
        return;
#ifdef Q_OS_UNIX
    // Straight to the driver while Qt holds nothing back: a command fits the idle line's buffer, and the
    // event loop is spared a write notification per command. What does not go (an error) takes Qt's way
    // below.
    if (port_.bytesToWrite() == 0) {
        const ssize_t sent = ::write(Descriptor(), bytes.data(), bytes.size());
        if (sent > 0)
            bytes = bytes.subspan(static_cast<std::size_t>(sent));
        if (bytes.empty())
            return;
    }
#endif
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

int SerialPort::Descriptor() {
#ifdef Q_OS_UNIX
    return static_cast<int>(port_.handle());
#else
    return -1;  // the driver's latency setting is the user's on Windows
#endif
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

void SerialPort::WatchReceived() {
#ifdef Q_OS_UNIX
    // Received bytes are read here, straight into a buffer on the stack and on to OnData: Qt's own read path
    // (its notification, its buffer, readyRead, readAll) would cost every reply some tens of microseconds.
    // Its notifier is switched off; should a version of Qt keep reading, readyRead still delivers, in order.
    for (QSocketNotifier* qtReads : port_.findChildren<QSocketNotifier*>(Qt::FindDirectChildrenOnly))
        if (qtReads->type() == QSocketNotifier::Read && qtReads->socket() == port_.handle())
            qtReads->setEnabled(false);
    // A second descriptor of the port: Qt allows one read notifier per descriptor.
    receivedFd_ = ::dup(Descriptor());
    if (receivedFd_ < 0)
        return;
    receivedWatch_ = std::make_unique<QSocketNotifier>(receivedFd_, QSocketNotifier::Read);
    QObject::connect(receivedWatch_.get(), &QSocketNotifier::activated, &port_, [this] { ReadReceived(); });
#endif
}

void SerialPort::ReadReceived() {
#ifdef Q_OS_UNIX
    std::uint8_t buffer[4096];
    const ssize_t n = ::read(receivedFd_, buffer, sizeof buffer);
    if (n > 0) {
        Deliver(std::span(buffer, static_cast<std::size_t>(n)));
        return;
    }
    const int error = n < 0 ? errno : 0;
    if (error == EAGAIN || error == EINTR)
        return;
    // A hung-up terminal (the cable pulled) reads as end of file or fails, and keeps the notifier firing;
    // without closing it the event loop would spin. Nothing to read without a hang-up is no fault: the bytes
    // went another way.
    pollfd probe{receivedFd_, 0, 0};
    if (error == EIO || error == ENXIO || error == ENODEV ||
        (::poll(&probe, 1, 0) == 1 && (probe.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0))
        Vanish();
#endif
}

void SerialPort::StopWatchingReceived() {
    receivedWatch_.reset();
#ifdef Q_OS_UNIX
    if (receivedFd_ >= 0)
        ::close(receivedFd_);
#endif
    receivedFd_ = -1;
}
