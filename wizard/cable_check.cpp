#include "wizard/cable_check.h"

#include "link/port_discovery.h"
#include "link/serial_port.h"

bool SystemCableFinder::Find(DeviceState& device) {
    return FindInterfacePort(device);
}

bool SerialPortOpener::Open(const QString& name, QString* error) {
    return port_.Open(name, error);
}

bool CableCheck::FindPort() {
    if (portOverride_.isEmpty())
        return finder_.Find(device_);
    device_.InterfacePortName = portOverride_;
    return true;
}

bool CableCheck::TestInterface() {
    const QString lineBreak = QStringLiteral("\r\n");
    for (;;) {
        QString openFailure;
        if (FindPort()) {
            QString reason;
            if (opener_.Open(device_.InterfacePortName, &reason))
                return true;
            openFailure =
                texts_.GetText(Txt::PortNotOpened).arg(device_.InterfacePortName, reason) + lineBreak;
        }
        // A port that was found but would not open is no missing cable: say what did happen instead.
        const QString text =
            (openFailure.isEmpty() ? texts_.GetText(Txt::CableNotFound) + QStringLiteral(".") + lineBreak
                                   : openFailure) +
            texts_.GetText(Txt::CableHint);
        if (view_.ShowMessageBox(text, texts_.GetText(Txt::InterfaceCable), MbOkCancelCritical) != IdOk)
            return false;
    }
}
