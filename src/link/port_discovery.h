#pragma once

#include <QString>
#include <QtGlobal>
#include <span>
#include <vector>

#include "link/cable_port.h"
#include "support/registry.h"

// The interface cable's USB-to-serial chip.
inline constexpr quint16 kCableVendorId = 0x0403;
inline constexpr quint16 kCableProductId = 0xF460;

// Where Windows keeps the cable's port name, by Windows family.
inline constexpr const char* kWindows98CableKey = "Enum\\FTDIBUS\\VID_0403+PID_F460+20030001A\\0000";
inline constexpr const char* kWindows98CableValue = "PortName";
inline constexpr const char* kSerialCommKey = "Hardware\\DeviceMap\\SerialComm";
inline constexpr const char* kSerialCommValue = "\\Device\\VCP0";

// A serial port as the system lists it.
struct SerialPortRecord {
    QString systemLocation;  // "/dev/ttyUSB0"
    bool hasIds = false;     // USB vendor and product ids are known
    quint16 vendor = 0;
    quint16 product = 0;
};

// Windows: the COM port number from the registry, without probing any port. True when a number 1..255 was
// found: InterfacePortNumber is that number and InterfacePortName "COMn". Otherwise 0 and empty.
bool FindInterfacePort(CablePort& device, Registry& registry, const QString& windowsFamily);

// Elsewhere: the cable's port among the listed ones, by its USB ids; of several, the lowest name. True when
// one was found: InterfacePortName is its device path. InterfacePortNumber stays 0, as these systems have no
// port numbers; the name alone identifies the port.
bool FindInterfacePort(CablePort& device, std::span<const SerialPortRecord> ports);

// The serial ports the system knows now.
std::vector<SerialPortRecord> AvailableSerialPorts();

// The platform's own way: the registry on Windows, the USB ids elsewhere.
bool FindInterfacePort(CablePort& device);
