#include "wizard/cable_check.h"

#include "link/port_discovery.h"
#include "link/serial_port.h"

bool SystemCableFinder::Find(CablePort& device) {
    found_ = FindInterfaceCables(system_);
    device = found_.empty() ? CablePort{} : found_.front().port;
    return !found_.empty();
}

bool SerialPortOpener::Open(const QString& name, PortOpenError* error) {
    return port_.Open(name, error);
}

bool SerialPortOpener::IsOpen() const {
    return port_.IsOpen();
}

CableCheck::Search CableCheck::FindPort() {
    if (!portOverride_.isEmpty()) {
        device_.InterfacePortName = portOverride_;
        return Search::Found;
    }
    if (!finder_.Find(device_))
        return Search::Missing;
    const std::vector<FoundCable> cables = finder_.Found();
    return cables.size() > 1 ? Choose(cables) : Search::Found;
}

// Taking the first of several silently could update another diver's DC.
CableCheck::Search CableCheck::Choose(const std::vector<FoundCable>& cables) {
    CableChoice choice{texts_.GetText(Txt::InterfaceCable),
                       texts_.GetText(Txt::SeveralCables),
                       texts_.GetText(Txt::SeveralCablesNamePort),
                       {}};
    for (const FoundCable& cable : cables) {
        choice.cables << texts_.GetText(Txt::CableListEntry)
                             .arg(cable.serialNumber.isEmpty() ? QStringLiteral("-") : cable.serialNumber,
                                  cable.byId.isEmpty() ? cable.port.InterfacePortName : cable.byId);
    }
    const std::optional<int> chosen = view_.ChooseCable(choice);
    if (!chosen || *chosen < 0 || std::size_t(*chosen) >= cables.size())
        return Search::GaveUp;
    device_ = cables[std::size_t(*chosen)].port;
    return Search::Found;
}

std::optional<CableDiagnosis> CableCheck::TryOpen() {
    PortOpenError error;
    if (opener_.Open(device_.InterfacePortName, &error))
        return std::nullopt;
    return DiagnoseOpenFailure(system_, device_.InterfacePortName, error);
}

QString CableCheck::BoxText(const CableDiagnosis& d, bool atStartup) const {
    const QString pid = QString::number(d.pid);
    QString cause;
    bool plugIn = false;  // the cable itself is missing: the hint asks to plug it in
    switch (d.cause) {
        case CableCause::Missing:
            cause = MissingCableText();
            plugIn = true;
            break;
        case CableCause::Vanished:
            cause = texts_.GetText(Txt::CableVanished).arg(d.port);
            plugIn = true;
            break;
        case CableCause::NoDriver:
            cause = texts_.GetText(Txt::CableNoDriver);
            break;
        case CableCause::NoAccess:
            cause = texts_.GetText(Txt::CableNoAccess).arg(d.port, d.group);
            break;
        case CableCause::HeldByKavUpdate:
            cause = texts_.GetText(Txt::CableHeldByKavUpdate).arg(d.port, pid);
            break;
        case CableCause::HeldByModemManager:
            cause = texts_.GetText(Txt::CableHeldByModemManager).arg(d.port, pid);
            break;
        case CableCause::HeldByBrltty:
            cause = texts_.GetText(Txt::CableHeldByBrltty).arg(d.port, pid);
            break;
        case CableCause::HeldByProgram:
            cause = texts_.GetText(Txt::CableHeldByProgram).arg(d.port, d.program, pid);
            break;
        case CableCause::HeldByUnknown:
            cause = texts_.GetText(Txt::CableHeldByUnknown).arg(d.port);
            break;
        case CableCause::Other:
            // The system's words are not ours: a "%1" in them stays as it is.
            cause = texts_.GetText(Txt::PortNotOpened).arg(d.port, d.systemText);
            break;
    }
    const Txt hint = atStartup ? (plugIn ? Txt::CableHint : Txt::CableRetryHint)
                               : (plugIn ? Txt::CableReconnectHint : Txt::CableRetryHintStay);
    return cause + QStringLiteral("\r\n") + texts_.GetText(hint);
}

// What to look at when no cable shows at all, one step a line.
QString CableCheck::MissingCableText() const {
    QStringList lines{texts_.GetText(Txt::CableNotFound) + QStringLiteral(".")};
#ifndef Q_OS_WIN
    lines << texts_.GetText(Txt::CableCheckPlugged) << texts_.GetText(Txt::CableCheckSeat)
          << texts_.GetText(Txt::CableCheckDialout) << texts_.GetText(Txt::CableCheckPortOption);
#endif
    lines << texts_.GetText(Txt::CableCheckSimulate);
    return lines.join(QStringLiteral("\r\n"));
}

bool CableCheck::Connect(std::optional<CableDiagnosis> problem, bool atStartup) {
    for (;;) {
        if (!problem) {
            const Search search = FindPort();
            if (search == Search::GaveUp)  // as Cancel at the box
                return false;
            problem = search == Search::Missing ? DiagnoseMissingCable(system_) : TryOpen();
            if (!problem)
                return true;
        }
        // A finder that could not even look (a simulated DC that did not start) says why in its own words.
        const QString text = finder_.Failure().isEmpty() ? BoxText(*problem, atStartup)
                                                         : finder_.Failure() + QStringLiteral("\r\n") +
                                                               texts_.GetText(Txt::CableRetryHint);
        if (view_.ShowMessageBox(text, texts_.GetText(Txt::InterfaceCable), kBoxOkCancelCritical) !=
            BoxAnswer::Ok)
            return false;
        problem.reset();
    }
}

bool CableCheck::TestInterface() {
    return Connect(std::nullopt, true);
}

bool CableCheck::Reconnect() {
    if (opener_.IsOpen())
        return true;
    CableDiagnosis gone;
    gone.cause = CableCause::Vanished;
    gone.port = device_.InterfacePortName;
    return Connect(gone, false);
}
