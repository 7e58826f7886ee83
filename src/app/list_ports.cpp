#include "app/list_ports.h"

#include <algorithm>
#include <ostream>

namespace {

QString OrDash(const QString& text) {
    return text.isEmpty() ? QStringLiteral("-") : text;
}

QString HolderName(const CableDiagnosis& d) {
    switch (d.cause) {
        case CableCause::HeldByKavUpdate:
            return QStringLiteral("kav-update");
        case CableCause::HeldByModemManager:
            return QStringLiteral("ModemManager");
        case CableCause::HeldByBrltty:
            return QStringLiteral("brltty");
        default:
            return OrDash(d.program);
    }
}

QString StateText(const ListedPort& port) {
    const CableDiagnosis& d = port.diagnosis;
    switch (port.state) {
        case PortState::Usable:
            return QStringLiteral("usable");
        case PortState::Busy:
            return QStringLiteral("busy, held by %1 (process %2)").arg(HolderName(d)).arg(d.pid);
        case PortState::NoAccess:
            return QStringLiteral(
                       "no permission: the device belongs to group %1; the rule "
                       "70-kav-interface.rules gives the user at the computer access")
                .arg(OrDash(d.group));
        case PortState::NoDriver:
            return QStringLiteral(
                "no driver bound: the USB device has no serial port; the rule "
                "70-kav-interface.rules loads the driver");
        case PortState::NoDeviceFile:
            return QStringLiteral("no device file");
    }
    return QString();
}

QString Line(const ListedPort& listed) {
    const SerialPortRecord& p = listed.port;
    const QString ids = QStringLiteral("%1:%2")
                            .arg(p.vendor, 4, 16, QLatin1Char('0'))
                            .arg(p.product, 4, 16, QLatin1Char('0'));
    return QStringList{OrDash(p.systemLocation), OrDash(p.byId), ids, OrDash(p.serialNumber),
                       StateText(listed)}
        .join(u'\t');
}

}  // namespace

int ListPorts(const PortSystem& system, std::ostream& out, std::ostream& err) {
    const std::vector<ListedPort> ports = ListCablePorts(system);
    for (const ListedPort& port : ports)
        out << Line(port).toStdString() << '\n';
    out.flush();
    if (ports.empty())
        err << "kav-update: no interface cable: no serial port or USB device with the ids 0403:f460\n";
    const auto usable = std::count_if(ports.begin(), ports.end(),
                                      [](const ListedPort& p) { return p.state == PortState::Usable; });
    return usable == 1 ? 0 : 1;
}
