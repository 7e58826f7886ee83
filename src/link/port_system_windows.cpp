#include <QDir>

#include "link/port_discovery.h"
#include "link/port_system.h"
#include "support/windows_version.h"

// On Windows the registry names the ports and the cable's; a COM port has no device file, no lock files and
// no list of who holds it: the system's exclusive open is the lock, and a refused open says "busy" alone.

std::vector<FoundCable> FindInterfaceCables(const PortSystem& system) {
    Q_UNUSED(system);
    WinRegistry registry;
    std::vector<FoundCable> cables = FindCablesInRegistry(registry);
    if (!cables.empty())
        return cables;
    // The driver's first port, where the keys by USB ids are missing (an older driver).
    FoundCable cable;
    if (FindInterfacePort(cable.port, registry, GetWindowsVersion()))
        cables.push_back(cable);
    return cables;
}

bool IsPseudoTerminal(const QString& nameOrPath) {
    Q_UNUSED(nameOrPath);
    return false;
}

QString DevicePath(const QString& nameOrPath) {
    return nameOrPath;
}

QString CableLockPath(const QString& path) {
    return QDir::temp().filePath(QStringLiteral("kav-update.%1.lock").arg(path));
}

std::vector<SerialPortRecord> OsPortSystem::SerialPorts() const {
    WinRegistry registry;
    return SerialPortsInRegistry(registry);
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
    Q_UNUSED(path);
    return {};
}

std::vector<ProcessRecord> OsPortSystem::Processes(const QString& path) const {
    Q_UNUSED(path);
    return {};
}
