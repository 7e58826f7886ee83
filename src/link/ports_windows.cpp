#include "link/port_discovery.h"
#include "link/port_system.h"
#include "support/windows_version.h"

// The cable's COM port from the registry, without probing any port; a COM port has no device file.

std::vector<FoundCable> FindInterfaceCables(const PortSystem& system) {
    Q_UNUSED(system);
    WinRegistry registry;
    FoundCable cable;
    if (!FindInterfacePort(cable.port, registry, GetWindowsVersion()))
        return {};
    return {cable};
}

bool IsPseudoTerminal(const QString& nameOrPath) {
    Q_UNUSED(nameOrPath);
    return false;
}

DeviceNodeRecord LinuxPortSystem::DeviceNode(const QString& path) const {
    DeviceNodeRecord node;
    // A COM port has no device file to look at; Windows reports a busy one as a permission error.
    Q_UNUSED(path);
    node.exists = node.readWrite = true;
    return node;
}
