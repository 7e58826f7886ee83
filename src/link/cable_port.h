#pragma once

#include <QString>
#include <cstdint>

// The port the interface cable was found at.
struct CablePort {
    std::uint8_t InterfacePortNumber = 0;  // Windows: COM port number, 0 = not found
    QString InterfacePortName;             // the device path or port name actually opened
};
