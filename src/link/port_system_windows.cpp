#include <QDir>
#include <QLockFile>
#include <optional>

#include <windows.h>

#include "link/port_discovery.h"
#include "link/port_system.h"

// On Windows the registry names the ports and the cable's; a COM port has no device file and no list of who
// holds it: the system's exclusive open keeps other programs out, and only kav-update's own lock file names a
// holder.

namespace {

// The kav-update that holds the cable's lock, while it runs.
std::optional<PortLockRecord> RunningLockHolder(const QString& path) {
    QLockFile lock(CableLockPath(path));
    PortLockRecord holder;
    QString host;
    if (!lock.getLockInfo(&holder.pid, &host, &holder.program) || holder.pid <= 0)
        return std::nullopt;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(holder.pid));
    if (process == nullptr)
        return std::nullopt;
    DWORD code = 0;
    const bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    holder.cableLock = true;
    return running ? std::optional(holder) : std::nullopt;
}

// The cable whose key names the port is the device on it now: its number, once the cable is unplugged, may go
// to another device, and SerialComm then lists it all the same. The system keeps a device's Control key only
// while the device is there.
bool CableDevicePresent(Registry& registry, const QString& port) {
    const QString parameters = DriverKeyOfPort(registry, port);
    quintptr key = 0;
    if (parameters.isEmpty() ||
        registry.OpenKey(parameters.section(u'\\', 0, -2) + QStringLiteral("\\Control"), RegistryKeyRead,
                         &key) != RegistryOk)
        return false;
    registry.CloseKey(key);
    return true;
}

}  // namespace

std::vector<FoundCable> FindInterfaceCables(const PortSystem& system) {
    Q_UNUSED(system);
    // No first port of the driver where the keys by USB ids are missing: that is any adapter with the same
    // chip, and with the cable unplugged another one would be taken for it.
    WinRegistry registry;
    std::vector<FoundCable> cables = FindCablesInRegistry(registry);
    std::erase_if(cables, [&registry](const FoundCable& cable) {
        return !CableDevicePresent(registry, cable.port.InterfacePortName);
    });
    return cables;
}

bool HeldBySimulatedDc(const QString& nameOrPath) {
    Q_UNUSED(nameOrPath);
    return false;
}

QString DevicePath(const QString& nameOrPath) {
    return nameOrPath;
}

QString CableLockPath(const QString& path) {
    // "COM5", "com5" and "\\.\COM5" are one port.
    QString name = path.toUpper();
    if (name.startsWith(QLatin1String("\\\\.\\")))
        name = name.mid(4);
    return QDir::temp().filePath(QStringLiteral("kav-update.%1.lock").arg(name));
}

std::vector<SerialPortRecord> OsPortSystem::SerialPorts() const {
    WinRegistry registry;
    std::vector<SerialPortRecord> ports = SerialPortsInRegistry(registry);
    for (SerialPortRecord& port : ports) {
        if (port.hasIds && !CableDevicePresent(registry, port.systemLocation)) {
            port.hasIds = false;
            port.vendor = port.product = 0;
            port.serialNumber.clear();
        }
    }
    return ports;
}

std::vector<UsbDeviceRecord> OsPortSystem::UsbDevices() const {
    return {};
}

DeviceNodeRecord OsPortSystem::DeviceNode(const QString& path) const {
    Q_UNUSED(path);
    DeviceNodeRecord node;
    node.exists = node.readWrite = true;
    return node;
}

std::vector<PortLockRecord> OsPortSystem::PortLocks(const QString& path) const {
    if (const auto holder = RunningLockHolder(path))
        return {*holder};
    return {};
}

std::vector<ProcessRecord> OsPortSystem::Processes(const QString& path) const {
    if (const auto holder = RunningLockHolder(path))
        return {{holder->pid, holder->program, false}};
    return {};
}
