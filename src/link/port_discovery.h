#pragma once

#include <QString>
#include <QtGlobal>
#include <span>
#include <vector>

#include "link/cable_port.h"
#include "link/port_system.h"
#include "support/registry.h"

// The interface cable's USB-to-serial chip.
inline constexpr quint16 kCableVendorId = 0x0403;
inline constexpr quint16 kCableProductId = 0xF460;
inline constexpr bool IsCable(quint16 vendor, quint16 product) {
    return vendor == kCableVendorId && product == kCableProductId;
}

// Where Windows keeps the cable's port name, by Windows family.
inline constexpr const char* kWindows98CableKey = "Enum\\FTDIBUS\\VID_0403+PID_F460+20030001A\\0000";
inline constexpr const char* kWindows98CableValue = "PortName";
inline constexpr const char* kSerialCommKey = "Hardware\\DeviceMap\\SerialComm";
inline constexpr const char* kSerialCommValue = "\\Device\\VCP0";

// Windows: the COM port number from the registry, without probing any port. True when a number 1..255 was
// found: InterfacePortNumber is that number and InterfacePortName "COMn". Otherwise 0 and empty.
bool FindInterfacePort(CablePort& device, Registry& registry, const QString& windowsFamily);

// Elsewhere: the cable's ports among the listed ones, by their USB ids, the lowest name first.
std::vector<SerialPortRecord> CablePortsIn(std::span<const SerialPortRecord> ports);

// An interface cable as the search found it.
struct FoundCable {
    CablePort port;
    QString serialNumber;  // empty where the system does not tell
    QString byId;
};

// The platform's own way: the one port the registry names on Windows; elsewhere every port with the cable's
// USB ids, the lowest name first (InterfacePortNumber stays 0 there: the name alone identifies the port).
std::vector<FoundCable> FindInterfaceCables(const PortSystem& system);
