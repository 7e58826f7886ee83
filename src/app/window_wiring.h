#pragma once

#include <QCoreApplication>

#include "app/wizard_assembly.h"
#include "wizard/front/agreement_printer.h"
#include "wizard/front/wizard_window.h"

// The window's buttons to the wizard, each decision in the log first; the end of the wizard closes the window
// and ends the event loop with the exit status.
inline void WireWindow(WizardWindow& window, WizardAssembly& wizard) {
    StageMachine& machine = wizard.machine;
    window.OnNext = [&] { wizard.Decide("next"), machine.NextClick(); };
    window.OnBack = [&] { wizard.Decide("back"), machine.BackClick(); };
    window.OnClose = [&] { wizard.Decide("close"), machine.CloseClick(); };
    window.OnAgain = [&] { wizard.Decide("again"), machine.AgainClick(); };
    window.OnPrint = [&] { PrintAgreement(&window, wizard.session.AppDir, wizard.texts); };
    window.DroppableFile = [&](const QList<QUrl>& urls) { return machine.DroppableFirmwareFile(urls); };
    window.OnFileDropped = [&](const QString& path) {
        wizard.log.Write(QStringLiteral("firmware file dropped: ") + path);
        if (machine.FirmwareFileDropped(path))
            wizard.LogFirmwareFile();  // a replay takes the last file named
    };
    machine.OnEnded = [&] {
        window.AllowClose();
        window.close();
        QCoreApplication::exit(machine.ExitCode());
    };
}
