#include "link/low_latency.h"

#include <QFile>
#include <QFileInfo>

#include <linux/serial.h>
#include <sys/ioctl.h>

const int kLowLatencyFlag = ASYNC_LOW_LATENCY;

std::optional<int> SystemSerialDriver::Flags(int fd) {
    serial_struct settings{};
    if (::ioctl(fd, TIOCGSERIAL, &settings) != 0)
        return std::nullopt;
    return settings.flags;
}

bool SystemSerialDriver::SetFlags(int fd, int flags) {
    serial_struct settings{};
    if (::ioctl(fd, TIOCGSERIAL, &settings) != 0)
        return false;
    settings.flags = flags;
    return ::ioctl(fd, TIOCSSERIAL, &settings) == 0;
}

std::optional<QString> SystemSerialDriver::ReadAttribute(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return QString::fromLatin1(file.readAll());
}

QString LatencyTimerPath(const QString& devicePath) {
    // /dev/serial/by-id/... names a link; sysfs knows the device by its own name.
    const QString canonical = QFileInfo(devicePath).canonicalFilePath();
    const QString kernelName = QFileInfo(canonical.isEmpty() ? devicePath : canonical).fileName();
    return QStringLiteral("/sys/class/tty/%1/device/latency_timer").arg(kernelName);
}

QString SlowTimerAdvice(const LowLatency& state) {
    return QStringLiteral(
               "To fix it, install the udev rule 70-kav-interface.rules (in the kav-update package) and plug "
               "the "
               "cable in again, or run: echo 1 | sudo tee %1")
        .arg(state.timerPath);
}
