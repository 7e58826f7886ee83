#include "link/port_system.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSerialPortInfo>
#include <QSet>
#include <cstring>
#include <optional>
#include <string_view>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "link/port_discovery.h"

// On Linux: the ports Qt lists with their /dev/serial/by-id names, /sys/bus/usb/devices, the device file,
// /run/lock and /var/lock, /proc.

namespace {

QByteArray ReadSmallFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(4096) : QByteArray();
}

QString Resolved(const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

// Both lock formats in use: the pid in ASCII (a program name may follow on the next line), or four binary
// bytes from older programs.
PortLockRecord ParseLock(const QByteArray& content) {
    PortLockRecord lock;
    const QList<QByteArray> lines = content.split('\n');
    bool ascii = false;
    lock.pid = lines.value(0).trimmed().toLongLong(&ascii);
    if (!ascii && content.size() == 4) {
        qint32 binary = 0;
        std::memcpy(&binary, content.constData(), sizeof binary);
        lock.pid = binary;
    }
    lock.program = QString::fromUtf8(lines.value(1).trimmed());
    return lock;
}

QStringList TtysBelow(const QString& interfaceDir) {
    QStringList ttys;
    for (const QString& dir : {interfaceDir, interfaceDir + QStringLiteral("/tty")}) {
        for (const QString& entry : QDir(dir).entryList({QStringLiteral("tty?*")}, QDir::Dirs))
            ttys << entry;
    }
    return ttys;
}

// The device each /dev/serial/by-id link leads to, by its resolved path.
QHash<QString, QString> ByIdNames() {
    QHash<QString, QString> names;
    const QDir dir(QStringLiteral("/dev/serial/by-id"));
    for (const QString& entry : dir.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name))
        names.insert(Resolved(dir.filePath(entry)), dir.filePath(entry));
    return names;
}

}  // namespace

QString DevicePath(const QString& nameOrPath) {
    return nameOrPath.startsWith(u'/') ? nameOrPath : QStringLiteral("/dev/") + nameOrPath;
}

QString CableLockPath(const QString& path) {
    QString dir = QDir::tempPath();
    for (const char* candidate : {"/run/lock", "/var/lock"}) {
        const QFileInfo info(QString::fromLatin1(candidate));
        if (info.isDir() && info.isWritable()) {
            dir = info.filePath();
            break;
        }
    }
    QString name = Resolved(DevicePath(path)).mid(1);
    name.replace(u'/', u'_');
    return dir + QStringLiteral("/kav-update.") + name + QStringLiteral(".lock");
}

std::vector<SerialPortRecord> OsPortSystem::SerialPorts() const {
    const QHash<QString, QString> byId = ByIdNames();
    std::vector<SerialPortRecord> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const bool hasIds = info.hasVendorIdentifier() && info.hasProductIdentifier();
        ports.push_back({info.systemLocation(), hasIds, hasIds ? info.vendorIdentifier() : quint16{0},
                         hasIds ? info.productIdentifier() : quint16{0}, info.serialNumber(),
                         byId.value(Resolved(info.systemLocation()))});
    }
    return ports;
}

std::vector<UsbDeviceRecord> OsPortSystem::UsbDevices() const {
    const QDir bus(QStringLiteral("/sys/bus/usb/devices"));
    const QStringList entries = bus.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::vector<UsbDeviceRecord> devices;
    for (const QString& device : entries) {
        if (device.contains(u':'))
            continue;  // an interface, gathered below with its device
        bool vendorOk = false, productOk = false;
        UsbDeviceRecord record;
        record.vendor = ReadSmallFile(bus.filePath(device + QStringLiteral("/idVendor")))
                            .trimmed()
                            .toUShort(&vendorOk, 16);
        record.product = ReadSmallFile(bus.filePath(device + QStringLiteral("/idProduct")))
                             .trimmed()
                             .toUShort(&productOk, 16);
        if (!vendorOk || !productOk)
            continue;  // a root hub's port or a device that went away
        record.serialNumber =
            QString::fromUtf8(ReadSmallFile(bus.filePath(device + QStringLiteral("/serial"))).trimmed());
        for (const QString& interface : entries) {
            if (interface.startsWith(device + u':'))
                record.ttys << TtysBelow(bus.filePath(interface));
        }
        devices.push_back(record);
    }
    return devices;
}

std::vector<PortLockRecord> OsPortSystem::PortLocks(const QString& path) const {
    std::vector<PortLockRecord> locks;
    const QByteArray cable = ReadSmallFile(CableLockPath(path));
    if (!cable.isEmpty()) {
        locks.push_back(ParseLock(cable));
        locks.back().cableLock = true;
    }
    QSet<QString> seen;
    const QString device = DevicePath(path);
    for (const QString& name : {device, Resolved(device)}) {
        QString base = name.startsWith(QLatin1String("/dev/")) ? name.mid(5) : name.mid(1);
        base.replace(u'/', u'_');
        for (const char* dir : {"/run/lock", "/var/lock"}) {
            const QString file = QString::fromLatin1(dir) + QStringLiteral("/LCK..") + base;
            const QString canonical = QFileInfo(file).canonicalFilePath();
            if (canonical.isEmpty() || seen.contains(canonical))
                continue;
            seen.insert(canonical);
            locks.push_back(ParseLock(ReadSmallFile(canonical)));
        }
    }
    return locks;
}

std::vector<ProcessRecord> OsPortSystem::Processes(const QString& path) const {
    std::vector<ProcessRecord> processes;
    const QString target = Resolved(DevicePath(path));
    const QDir proc(QStringLiteral("/proc"));
    for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (!numeric)
            continue;
        ProcessRecord process;
        process.pid = pid;
        process.name =
            QString::fromUtf8(ReadSmallFile(proc.filePath(entry + QStringLiteral("/comm"))).trimmed());
        // Another user's descriptors stay hidden from us: such a process is listed, not known to hold the
        // port.
        const QDir fds(proc.filePath(entry + QStringLiteral("/fd")));
        for (const QString& fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
            if (QFile::symLinkTarget(fds.filePath(fd)) == target) {
                process.holdsPort = true;
                break;
            }
        }
        processes.push_back(process);
    }
    return processes;
}

std::vector<FoundCable> FindInterfaceCables(const PortSystem& system) {
    std::vector<FoundCable> found;
    for (const SerialPortRecord& port : CablePortsIn(system.SerialPorts()))
        found.push_back({{0, port.systemLocation}, port.serialNumber, port.byId});
    return found;
}

namespace {

// The number of a Unix98 pty slave (majors 136 to 143, 256 each), symbolic links followed.
std::optional<unsigned> PtyIndex(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISCHR(info.st_mode))
        return std::nullopt;
    const unsigned number = major(info.st_rdev);
    if (number < 136 || number > 143)
        return std::nullopt;
    return (number - 136) * 256 + minor(info.st_rdev);
}

// The name of the process that holds the master side of pty `index`: its /dev/ptmx descriptor names the pty
// in its fdinfo.
QString PtyMasterHolder(unsigned index) {
    const QByteArray wanted = "tty-index:\t" + QByteArray::number(index) + '\n';
    const QDir proc(QStringLiteral("/proc"));
    for (const QString& pid : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (!pid.front().isDigit())
            continue;
        const QDir fds(proc.filePath(pid + QStringLiteral("/fd")));
        for (const QString& fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
            char target[64] = {};
            const ssize_t n =
                ::readlink(QFile::encodeName(fds.filePath(fd)).constData(), target, sizeof target - 1);
            const std::string_view link(target, n > 0 ? std::size_t(n) : 0);
            if (link != "/dev/ptmx" && link != "/dev/pts/ptmx")
                continue;
            if (ReadSmallFile(proc.filePath(pid + QStringLiteral("/fdinfo/") + fd)).contains(wanted))
                return QString::fromLocal8Bit(ReadSmallFile(proc.filePath(pid + QStringLiteral("/comm"))))
                    .trimmed();
        }
    }
    return {};
}

}  // namespace

bool HeldBySimulatedDc(const QString& nameOrPath) {
    const std::optional<unsigned> index = PtyIndex(DevicePath(nameOrPath));
    return index && PtyMasterHolder(*index) == QLatin1String("kav-dc-sim");
}

DeviceNodeRecord OsPortSystem::DeviceNode(const QString& path) const {
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
