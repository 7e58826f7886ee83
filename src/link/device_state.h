#pragma once

#include <QString>
#include <cstdint>

// What the link knows of the connected DC and of the port it is reached through.
struct DeviceState {
    QString DeviceIdText;  // the 16-character identification
    QString DeviceVersion;
    std::uint8_t DeviceSubVersion = 0;
    std::uint8_t InterfacePortNumber = 0;  // Windows: COM port number, 0 = not found
    QString InterfacePortName;             // the device path or port name actually opened
};
