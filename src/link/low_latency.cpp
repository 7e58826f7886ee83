#include "link/low_latency.h"

#include <QFile>
#include <QFileInfo>

// The driver's flags: low_latency_linux.cpp, low_latency_windows.cpp.

std::optional<QString> SystemSerialDriver::ReadAttribute(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return QString::fromLatin1(file.readAll());
}

namespace {

// /dev/serial/by-id/... names a link; sysfs knows the device by its own name.
QString KernelName(const QString& devicePath) {
    const QString canonical = QFileInfo(devicePath).canonicalFilePath();
    return QFileInfo(canonical.isEmpty() ? devicePath : canonical).fileName();
}

}  // namespace

LowLatency RequestLowLatency(SerialDriver& driver, int fd, const QString& devicePath) {
    LowLatency state;
    state.device = devicePath;
    const std::optional<int> flags = driver.Flags(fd);
    if (!flags)
        return state;  // a pseudo-terminal: nothing to ask for, and nothing worth a warning
    state.offered = true;
    if ((*flags & kLowLatencyFlag) == 0 && driver.SetFlags(fd, *flags | kLowLatencyFlag))
        state.restoreFlags = *flags;
    const std::optional<int> after = driver.Flags(fd);
    state.granted = after && (*after & kLowLatencyFlag) != 0;

    state.timerPath = QStringLiteral("/sys/class/tty/%1/device/latency_timer").arg(KernelName(devicePath));
    if (const std::optional<QString> text = driver.ReadAttribute(state.timerPath)) {
        bool ok = false;
        const int ms = text->trimmed().toInt(&ok);
        if (ok)
            state.timerMs = ms;
    }
    return state;
}

void RestoreLowLatency(SerialDriver& driver, int fd, const LowLatency& state) {
    if (state.restoreFlags)
        driver.SetFlags(fd, *state.restoreFlags);
}

QString LowLatency::Summary() const {
    QString line = QStringLiteral("Serial port %1: ").arg(device);
    if (!offered)
        return line + QStringLiteral("no low-latency setting (not a serial adapter)");
    line += granted ? QStringLiteral("low latency on") : QStringLiteral("low latency refused by the driver");
    if (timerMs)
        line += QStringLiteral(", latency timer %1 ms").arg(*timerMs);
    if (TimerTooSlow())
        line += QStringLiteral(
                    "; each reply waits up to %1 ms. To fix it, install the udev rule 70-kav-interface.rules "
                    "(in the kav-update package) and plug the cable in again, or run: echo 1 | sudo tee %2")
                    .arg(*timerMs)
                    .arg(timerPath);
    return line;
}
