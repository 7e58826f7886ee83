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
// Where the USB-serial driver keeps each device it has seen, by USB ids and serial number; the port name is
// under "0000\Device Parameters" of each.
inline constexpr const char* kUsbSerialDevicesKey = "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS";

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

// Windows: every interface cable plugged in now, by its USB ids: the driver's keys of the devices with the
// cable's ids name their ports, and SerialComm lists the ports present. The lowest port first.
std::vector<FoundCable> FindCablesInRegistry(Registry& registry);

// Windows: the key of the cable's settings (latency timer) whose port this is; empty for any other port.
QString DriverKeyOfPort(Registry& registry, const QString& port);

// Windows: the ports present now (SerialComm), with the cable's USB ids on those the driver's keys tie to it.
std::vector<SerialPortRecord> SerialPortsInRegistry(Registry& registry);
