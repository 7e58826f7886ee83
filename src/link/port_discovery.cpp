#include "link/port_discovery.h"

#include <QVariant>
#include <algorithm>
#include <iterator>
#include <optional>

// FindInterfaceCables, the platform's own way: port_system_linux.cpp, port_system_windows.cpp.

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

// A string value cut at its first NUL; empty when it is missing or not a string.
QString StringValue(Registry& registry, quintptr key, const QString& name) {
    QVariant value;
    if (QueryRegistryValue(registry, key, name, value) != RegistryOk || value.typeId() != QMetaType::QString)
        return {};
    QString text = value.toString();
    if (const qsizetype nul = text.indexOf(QChar(u'\0')); nul >= 0)
        text.truncate(nul);
    return text;
}

template <typename Visit>
void ForEachName(Registry& registry, const QString& path, bool subkeys, Visit visit) {
    quintptr key = 0;
    if (registry.OpenKey(path, RegistryKeyRead, &key) != RegistryOk)
        return;
    QString name;
    for (quint32 i = 0;
         (subkeys ? registry.EnumSubKey(key, i, &name) : registry.EnumValue(key, i, &name)) == RegistryOk;
         ++i)
        visit(key, name);
    registry.CloseKey(key);
}

// The ports present now, as SerialComm lists them: "COM3", ...
QStringList PresentPorts(Registry& registry) {
    QStringList ports;
    ForEachName(registry, QString::fromLatin1(kSerialCommKey), false, [&](quintptr key, const QString& name) {
        const QString port = StringValue(registry, key, name);
        if (!port.isEmpty())
            ports << port;
    });
    return ports;
}

// The driver's devices with the cable's ids: "VID_0403+PID_F460+<serial number><interface letter>".
struct DriverDevice {
    QString port;
    QString serialNumber;
    QString parameters;  // its key of settings
};
std::vector<DriverDevice> CableDevicesOfDriver(Registry& registry) {
    const QString prefix = QStringLiteral("VID_%1+PID_%2+")
                               .arg(kCableVendorId, 4, 16, QLatin1Char('0'))
                               .arg(kCableProductId, 4, 16, QLatin1Char('0'));
    const QString devices = QString::fromLatin1(kUsbSerialDevicesKey);
    std::vector<DriverDevice> found;
    ForEachName(registry, devices, true, [&](quintptr, const QString& device) {
        if (!device.startsWith(prefix, Qt::CaseInsensitive))
            return;
        quintptr parameters = 0;
        const QString path = devices + u'\\' + device + QStringLiteral("\\0000\\Device Parameters");
        if (registry.OpenKey(path, RegistryKeyRead, &parameters) != RegistryOk)
            return;
        const QString port = StringValue(registry, parameters, QStringLiteral("PortName"));
        registry.CloseKey(parameters);
        if (!port.isEmpty())
            found.push_back(
                {port, device.mid(prefix.size()).chopped(device.size() > prefix.size() ? 1 : 0), path});
    });
    return found;
}

}  // namespace

std::vector<FoundCable> FindCablesInRegistry(Registry& registry) {
    const QStringList present = PresentPorts(registry);
    std::vector<FoundCable> cables;
    for (const DriverDevice& device : CableDevicesOfDriver(registry)) {
        const auto number = ComPortNumber(device.port);
        if (!number || !present.contains(device.port, Qt::CaseInsensitive))
            continue;  // a cable seen once and unplugged since
        cables.push_back({{*number, QStringLiteral("COM%1").arg(*number)}, device.serialNumber, {}});
    }
    std::sort(cables.begin(), cables.end(), [](const FoundCable& a, const FoundCable& b) {
        return a.port.InterfacePortNumber < b.port.InterfacePortNumber;
    });
    return cables;
}

QString DriverKeyOfPort(Registry& registry, const QString& port) {
    for (const DriverDevice& device : CableDevicesOfDriver(registry))
        if (device.port.compare(port, Qt::CaseInsensitive) == 0)
            return device.parameters;
    return {};
}

std::vector<SerialPortRecord> SerialPortsInRegistry(Registry& registry) {
    const std::vector<DriverDevice> cables = CableDevicesOfDriver(registry);
    std::vector<SerialPortRecord> ports;
    for (const QString& name : PresentPorts(registry)) {
        SerialPortRecord port;
        port.systemLocation = name;
        for (const DriverDevice& cable : cables) {
            if (cable.port.compare(name, Qt::CaseInsensitive) == 0) {
                port.hasIds = true;
                port.vendor = kCableVendorId;
                port.product = kCableProductId;
                port.serialNumber = cable.serialNumber;
            }
        }
        ports.push_back(port);
    }
    return ports;
}

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
