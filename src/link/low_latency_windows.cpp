#include "link/low_latency.h"

#include <QVariant>

#include "link/port_discovery.h"
#include "support/registry.h"

// Windows asks for nothing at open: the FTDI driver's latency timer is a setting of the port in Device
// Manager, kept in its registry key, where it is read to warn about a slow one.

const int kLowLatencyFlag = 0x2000;

std::optional<int> SystemSerialDriver::Flags(int) {
    return std::nullopt;
}

bool SystemSerialDriver::SetFlags(int, int) {
    return false;
}

std::optional<QString> SystemSerialDriver::ReadAttribute(const QString& path) {
    const qsizetype split = path.lastIndexOf(u'\\');
    if (split < 0)
        return std::nullopt;
    WinRegistry registry;
    quintptr key = 0;
    if (registry.OpenKey(path.left(split), RegistryKeyRead, &key) != RegistryOk)
        return std::nullopt;
    QVariant value;
    const long status = QueryRegistryValue(registry, key, path.mid(split + 1), value);
    registry.CloseKey(key);
    if (status != RegistryOk)
        return std::nullopt;
    return value.toString();
}

QString LatencyTimerPath(const QString& devicePath) {
    WinRegistry registry;
    const QString key = DriverKeyOfPort(registry, devicePath);
    return key.isEmpty() ? QString() : key + QStringLiteral("\\LatencyTimer");
}

QString SlowTimerAdvice(const LowLatency& state) {
    Q_UNUSED(state);
    return QStringLiteral(
        "To fix it, open Device Manager, Ports (COM & LPT), the cable's port, Port Settings, Advanced, and "
        "set "
        "Latency Timer (msec) to 1.");
}
