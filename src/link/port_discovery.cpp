#include "link/port_discovery.h"

#include <QVariant>
#include <algorithm>
#include <iterator>
#include <optional>

// FindInterfaceCables, the platform's own way: ports_linux.cpp, ports_windows.cpp.

namespace {

// "COMn" with n a whole number from 1 to 255; anything else names no usable port.
std::optional<std::uint8_t> ComPortNumber(const QString& name) {
    if (name.size() < 4 || !name.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
        return std::nullopt;
    unsigned number = 0;
    for (const QChar c : name.mid(3)) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        number = number * 10 + static_cast<unsigned>(c.unicode() - '0');
        if (number > 255)
            return std::nullopt;
    }
    if (number == 0)
        return std::nullopt;
    return static_cast<std::uint8_t>(number);
}

// "ttyUSB2" before "ttyUSB10": the trailing numbers compare as numbers.
bool NameBefore(const QString& a, const QString& b) {
    const auto split = [](const QString& s) {
        qsizetype digits = s.size();
        while (digits > 0 && s.at(digits - 1).isDigit())
            --digits;
        const QString tail = s.mid(digits);
        return std::pair(s.left(digits), tail.isEmpty() ? -1LL : tail.toLongLong());
    };
    return split(a) < split(b);
}

}  // namespace

bool FindInterfacePort(CablePort& device, Registry& registry, const QString& windowsFamily) {
    device.InterfacePortNumber = 0;
    device.InterfacePortName.clear();

    const bool windows98 = windowsFamily == QLatin1String("Windows98");
    const QString keyPath = QString::fromLatin1(windows98 ? kWindows98CableKey : kSerialCommKey);
    const QString valueName = QString::fromLatin1(windows98 ? kWindows98CableValue : kSerialCommValue);

    quintptr key = 0;
    // Read rights only: a normal user is refused anything more on these keys.
    if (registry.OpenKey(keyPath, RegistryKeyRead, &key) == RegistryOk) {
        QVariant value;
        if (QueryRegistryValue(registry, key, valueName, value) == RegistryOk &&
            value.typeId() == QMetaType::QString) {
            QString text = value.toString();
            if (const qsizetype nul = text.indexOf(QChar(u'\0')); nul >= 0)
                text.truncate(nul);
            if (const auto number = ComPortNumber(text)) {
                device.InterfacePortNumber = *number;
                device.InterfacePortName = QStringLiteral("COM%1").arg(*number);
            }
        }
    }
    // Also after a failed open, as the registry code this follows always did.
    registry.CloseKey(key);
    return device.InterfacePortNumber != 0;
}

std::vector<SerialPortRecord> CablePortsIn(std::span<const SerialPortRecord> ports) {
    std::vector<SerialPortRecord> cables;
    std::copy_if(ports.begin(), ports.end(), std::back_inserter(cables), [](const SerialPortRecord& port) {
        return port.hasIds && IsCable(port.vendor, port.product);
    });
    std::sort(cables.begin(), cables.end(), [](const SerialPortRecord& a, const SerialPortRecord& b) {
        return NameBefore(a.systemLocation, b.systemLocation);
    });
    return cables;
}
