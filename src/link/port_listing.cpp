#include "link/port_listing.h"

#include "link/port_discovery.h"

namespace {

ListedPort Listed(const PortSystem& system, const SerialPortRecord& port) {
    ListedPort entry{port, PortState::Usable, {}};
    const DeviceNodeRecord node = system.DeviceNode(port.systemLocation);
    if (!node.exists) {
        entry.state = PortState::NoDeviceFile;
    } else if (!node.readWrite) {
        entry.state = PortState::NoAccess;
        entry.diagnosis.group = node.group;
    } else if (const auto holder = DiagnoseHeldPort(system, port.systemLocation)) {
        entry.state = PortState::Busy;
        entry.diagnosis = *holder;
    }
    return entry;
}

}  // namespace

std::vector<ListedPort> ListCablePorts(const PortSystem& system) {
    std::vector<ListedPort> listed;
    for (const SerialPortRecord& port : CablePortsIn(system.SerialPorts()))
        listed.push_back(Listed(system, port));
    for (const UsbDeviceRecord& usb : system.UsbDevices()) {
        if (IsCable(usb.vendor, usb.product) && usb.ttys.isEmpty())
            listed.push_back({{QString(), true, usb.vendor, usb.product, usb.serialNumber, QString()},
                              PortState::NoDriver,
                              {}});
    }
    return listed;
}
