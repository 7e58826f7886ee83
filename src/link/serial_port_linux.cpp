#include "link/serial_port.h"

#include <QLockFile>
#include <QSocketNotifier>
#include <utility>

#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>

namespace {

bool ProcessAlive(qint64 pid) {
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

}  // namespace

bool SerialPort::LockCable(const QString& nameOrPath) {
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
    return true;
}

void SerialPort::Discard() {
    if (!IsOpen())
        return;
    ::tcflush(Descriptor(), TCIOFLUSH);  // one call for both queues: the driver flushes input, then output
}

std::span<const std::uint8_t> SerialPort::TransmitDirect(std::span<const std::uint8_t> bytes) {
    // Straight to the driver while Qt holds nothing back: a command fits the idle line's buffer, and the
    // event loop is spared a write notification per command. What does not go (an error) takes Qt's way.
    if (port_.bytesToWrite() == 0) {
        const ssize_t sent = ::write(Descriptor(), bytes.data(), bytes.size());
        if (sent > 0)
            bytes = bytes.subspan(static_cast<std::size_t>(sent));
    }
    return bytes;
}

int SerialPort::Descriptor() {
    return static_cast<int>(port_.handle());
}

void SerialPort::WatchReceived() {
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
}

void SerialPort::ReadReceived() {
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
}

void SerialPort::StopWatchingReceived() {
    receivedWatch_.reset();
    if (receivedFd_ >= 0)
        ::close(receivedFd_);
    receivedFd_ = -1;
}
