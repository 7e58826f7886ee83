#include "link/low_latency.h"

#include <QStringList>

// The driver's flags, its timer and the advice on it: low_latency_linux.cpp, low_latency_windows.cpp.

LowLatency RequestLowLatency(SerialDriver& driver, int fd, const QString& devicePath) {
    LowLatency state;
    state.device = devicePath;
    if (const std::optional<int> flags = driver.Flags(fd)) {  // none: nothing to ask for at open
        state.offered = true;
        if ((*flags & kLowLatencyFlag) == 0 && driver.SetFlags(fd, *flags | kLowLatencyFlag))
            state.restoreFlags = *flags;
        const std::optional<int> after = driver.Flags(fd);
        state.granted = after && (*after & kLowLatencyFlag) != 0;
    }
    // After the request, which may have shortened it; a pseudo-terminal has no timer.
    state.timerPath = LatencyTimerPath(devicePath);
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
    if (!offered && !timerMs)
        return line + QStringLiteral("no low-latency setting (not a serial adapter)");
    QStringList parts;
    if (offered)
        parts << (granted ? QStringLiteral("low latency on")
                          : QStringLiteral("low latency refused by the driver"));
    if (timerMs)
        parts << QStringLiteral("latency timer %1 ms").arg(*timerMs);
    line += parts.join(QStringLiteral(", "));
    if (TimerTooSlow())
        line += QStringLiteral("; each reply waits up to %1 ms. ").arg(*timerMs) + SlowTimerAdvice(*this);
    return line;
}
