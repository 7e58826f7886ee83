#include "link/cable_diagnosis.h"

#include <algorithm>

#include "link/port_discovery.h"

namespace {

void NameHolder(CableDiagnosis& d, const QString& name, qint64 pid) {
    d.pid = pid;
    if (name == QLatin1String("kav-update")) {
        d.cause = CableCause::HeldByKavUpdate;
    } else if (name == QLatin1String("ModemManager")) {
        d.cause = CableCause::HeldByModemManager;
    } else if (name.startsWith(QLatin1String("brltty"))) {
        d.cause = CableCause::HeldByBrltty;
    } else {
        d.cause = CableCause::HeldByProgram;
        d.program = name;
    }
}

// Lock files first (they name the holder even across users), then open descriptors. False: neither tells.
bool NameSeenHolder(CableDiagnosis& d, const PortSystem& system,
                    const std::vector<ProcessRecord>& processes) {
    const auto running = [&](qint64 pid) {
        return std::find_if(processes.begin(), processes.end(),
                            [pid](const ProcessRecord& p) { return p.pid == pid; });
    };
    for (const PortLockRecord& lock : system.PortLocks(d.port)) {
        const auto process = running(lock.pid);
        if (lock.pid <= 0 || process == processes.end())
            continue;  // stale: its program is gone
        if (lock.cableLock) {
            d.cause = CableCause::HeldByKavUpdate;
            d.pid = lock.pid;
        } else {
            NameHolder(d, lock.program.isEmpty() ? process->name : lock.program, lock.pid);
        }
        return true;
    }
    for (const ProcessRecord& p : processes) {
        if (p.holdsPort) {
            NameHolder(d, p.name, p.pid);
            return true;
        }
    }
    return false;
}

// Failing those, the usual suspects, whose descriptors a plain user cannot see.
void FindHolder(CableDiagnosis& d, const PortSystem& system) {
    const std::vector<ProcessRecord> processes = system.Processes(d.port);
    if (NameSeenHolder(d, system, processes))
        return;
    for (const ProcessRecord& p : processes) {
        if (p.name == QLatin1String("ModemManager") || p.name.startsWith(QLatin1String("brltty"))) {
            NameHolder(d, p.name, p.pid);
            return;
        }
    }
    d.cause = CableCause::HeldByUnknown;
}

}  // namespace

CableDiagnosis DiagnoseMissingCable(const PortSystem& system) {
    CableDiagnosis d;
    for (const UsbDeviceRecord& usb : system.UsbDevices()) {
        if (IsCable(usb.vendor, usb.product) && usb.ttys.isEmpty())
            d.cause = CableCause::NoDriver;
    }
    return d;
}

CableDiagnosis DiagnoseOpenFailure(const PortSystem& system, const QString& port,
                                   const PortOpenError& error) {
    CableDiagnosis d;
    d.port = port;
    d.systemText = error.systemText;
    d.cause = CableCause::Other;
    if (error.code == PortOpenFailure::NotFound) {
        d.cause = CableCause::Vanished;
        return d;
    }
    // The system says "permission" both for a device we may not touch and for one that is busy.
    if (error.code != PortOpenFailure::NoPermission)
        return d;
    const DeviceNodeRecord node = system.DeviceNode(port);
    if (!node.exists) {
        d.cause = CableCause::Vanished;
    } else if (!node.readWrite) {
        // Joining "root" is no advice to give: the system's words must do.
        if (!node.group.isEmpty() && node.group != QLatin1String("root")) {
            d.cause = CableCause::NoAccess;
            d.group = node.group;
        }
    } else {
        FindHolder(d, system);
    }
    return d;
}

std::optional<CableDiagnosis> DiagnoseHeldPort(const PortSystem& system, const QString& port) {
    CableDiagnosis d;
    d.port = port;
    if (!NameSeenHolder(d, system, system.Processes(port)))
        return std::nullopt;
    return d;
}
