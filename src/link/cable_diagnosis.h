#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

#include "link/port_system.h"

// Why the cable's port cannot be used.
enum class CableCause {
    Missing,             // no cable and no trace of it
    NoDriver,            // the USB device is there, but no serial port appeared for it
    NoAccess,            // the user may not open the device file
    HeldByKavUpdate,     // another kav-update has the cable
    HeldByModemManager,  // ModemManager probes every new serial port
    HeldByBrltty,        // the braille service claims USB serial cables
    HeldByProgram,       // another program, named
    HeldByUnknown,       // in use, but by whom cannot be told
    Vanished,            // the port was there and is gone
    Other,               // anything else: the system's own words
};

struct CableDiagnosis {
    CableCause cause = CableCause::Missing;
    QString port;
    QString group;    // NoAccess: the group that owns the device
    QString program;  // HeldByProgram
    qint64 pid = 0;   // the holder's process id
    QString systemText;
};

// How an open failed, as the port reported it.
enum class PortOpenFailure {
    NotFound,      // no such port (any more)
    NoPermission,  // refused: no access, or held by another program
    Other,
};
struct PortOpenError {
    PortOpenFailure code = PortOpenFailure::Other;
    QString systemText;
};

// The search found no port: is the cable absent, or present without a driver?
CableDiagnosis DiagnoseMissingCable(const PortSystem& system);

// The port was found but would not open: who or what keeps us out.
CableDiagnosis DiagnoseOpenFailure(const PortSystem& system, const QString& port, const PortOpenError& error);

// Without opening the port: the program that holds it, as its lock files and open descriptors tell; nothing
// when they name no one.
std::optional<CableDiagnosis> DiagnoseHeldPort(const PortSystem& system, const QString& port);
