#pragma once

#include <vector>

#include "link/cable_diagnosis.h"
#include "link/port_system.h"

// Whether a cable's port can be used now, as the system's lookups tell without opening it.
enum class PortState { Usable, Busy, NoAccess, NoDriver, NoDeviceFile };

struct ListedPort {
    SerialPortRecord port;  // NoDriver: the USB device's ids and serial number, and no path
    PortState state = PortState::Usable;
    CableDiagnosis diagnosis;  // Busy: the holder; NoAccess: the group that owns the device
};

// Every port with the cable's USB ids, the lowest name first, then every cable that no driver made a port of.
std::vector<ListedPort> ListCablePorts(const PortSystem& system);
