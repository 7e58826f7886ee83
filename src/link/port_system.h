#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <vector>

// A serial port as the system lists it.
struct SerialPortRecord {
    QString systemLocation;  // "/dev/ttyUSB0"
    bool hasIds = false;     // USB vendor and product ids are known
    quint16 vendor = 0;
    quint16 product = 0;
    QString serialNumber;  // the USB device's; empty when it has none
    QString byId;          // its stable name, "/dev/serial/by-id/usb-..."; empty when there is none
};

// A USB device as the kernel lists it, with the serial ports its interfaces gave rise to ("ttyUSB0").
struct UsbDeviceRecord {
    quint16 vendor = 0;
    quint16 product = 0;
    QStringList ttys;
    QString serialNumber;
};

// The device file of a port.
struct DeviceNodeRecord {
    bool exists = false;
    bool readWrite = false;  // this user may open it for reading and writing
    QString group;           // the group that owns it
};

// A lock file that claims a port: a UUCP-style "LCK.." file or the lock kav-update takes per cable.
struct PortLockRecord {
    qint64 pid = 0;
    QString program;         // as the lock file names it; often empty
    bool cableLock = false;  // the lock of kav-update's one program per cable
};

// A running process, and whether one of its open files is the port (false also when we may not look).
struct ProcessRecord {
    qint64 pid = 0;
    QString name;
    bool holdsPort = false;
};

// What the system can tell about its serial ports and the USB devices behind them: everything the cable
// search needs, and the cable check to name the cause when the port cannot be used.
class PortSystem {
public:
    virtual ~PortSystem() = default;
    virtual std::vector<SerialPortRecord> SerialPorts() const = 0;
    virtual std::vector<UsbDeviceRecord> UsbDevices() const = 0;
    virtual DeviceNodeRecord DeviceNode(const QString& path) const = 0;
    virtual std::vector<PortLockRecord> PortLocks(const QString& path) const = 0;
    virtual std::vector<ProcessRecord> Processes(const QString& path) const = 0;
};

// The lookups of the system the program runs on: port_system_linux.cpp, port_system_windows.cpp.
class OsPortSystem final : public PortSystem {
public:
    std::vector<SerialPortRecord> SerialPorts() const override;
    std::vector<UsbDeviceRecord> UsbDevices() const override;
    DeviceNodeRecord DeviceNode(const QString& path) const override;
    std::vector<PortLockRecord> PortLocks(const QString& path) const override;
    std::vector<ProcessRecord> Processes(const QString& path) const override;
};

// The lock file that keeps a second kav-update off the cable, for the device behind path (symbolic links
// resolved, so that every name of one cable shares one lock).
QString CableLockPath(const QString& path);

// "/dev/ttyUSB0" for "ttyUSB0" and for "/dev/ttyUSB0"; on Windows the name as it is.
QString DevicePath(const QString& nameOrPath);

// Whether the port (symbolic links followed) is the line of our own simulated DC: a pseudo-terminal whose
// other side kav-dc-sim holds. A real DC behind a pty bridge (socat, a remote serial server) is not, nor is a
// serial device, any other file or a missing one. Never on Windows, where the simulated DC is told by
// --simulate.
bool HeldBySimulatedDc(const QString& nameOrPath);
