#include "link/port_discovery.h"
#include "link/port_system.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

// The cable by its USB ids among the ports Qt lists; the device file for what the cable check asks.

std::vector<FoundCable> FindInterfaceCables(const PortSystem& system) {
    std::vector<FoundCable> found;
    for (const SerialPortRecord& port : CablePortsIn(system.SerialPorts()))
        found.push_back({{0, port.systemLocation}, port.serialNumber, port.byId});
    return found;
}

bool IsPseudoTerminal(const QString& nameOrPath) {
    struct stat info {};
    if (::stat(QFile::encodeName(DevicePath(nameOrPath)).constData(), &info) != 0 || !S_ISCHR(info.st_mode))
        return false;
    // Unix98 pty slaves: major 136 and the seven after it.
    const unsigned number = major(info.st_rdev);
    return number >= 136 && number <= 143;
}

DeviceNodeRecord LinuxPortSystem::DeviceNode(const QString& path) const {
    DeviceNodeRecord node;
    const QFileInfo info(DevicePath(path));
    node.exists = info.exists();
    if (node.exists) {
        node.group = info.group();
        // access() honours ACLs, which is how the user at the seat gets the device.
        node.readWrite = ::access(QFile::encodeName(info.filePath()).constData(), R_OK | W_OK) == 0;
    }
    return node;
}
