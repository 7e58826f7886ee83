#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <memory>

#include "app/command_line.h"
#include "app/simulator_process.h"
#include "link/comm_module.h"
#include "link/port_system.h"
#include "link/qt_event_pump.h"
#include "link/serial_port.h"
#include "resources/string_resources.h"
#include "run/session.h"
#include "run/task_list.h"
#include "run/update_context.h"
#include "support/app_folders.h"
#include "support/clock.h"
#include "support/process_priority.h"
#include "support/text_database.h"
#include "wizard/cable_check.h"
#include "wizard/stage_machine.h"
#include "wizard/wizard_device.h"

inline StartupOptions StartupOptionsFrom(const CommandLine& cl) {
    StartupOptions o;
    const AppFolders folders =
        ResolveAppFolders(QCoreApplication::applicationDirPath(), cl.AppDir,
                          QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
    o.ExeDir = folders.ExeDir;
    o.AppDir = folders.AppDir;
    o.BackupDir = folders.BackupDir;
    o.DataDir = folders.DataDir;
    o.FirmwareFile = cl.Firmware.isEmpty() ? QString() : QDir::current().absoluteFilePath(cl.Firmware);
    o.LanguageCode = cl.LanguageCode;
    o.StartupResource = LoadStringResource(ResourceStartup);
    o.StartProgram = [](const QString& program) { return QProcess::startDetached(program, {}); };
    return o;
}

inline std::unique_ptr<CableFinder> CableFinderFor(const CommandLine& cl, const Session& session) {
    if (!cl.Simulate)
        return std::make_unique<SystemCableFinder>();
    return std::make_unique<SimulatorCableFinder>(
        session, QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("kav-dc-sim")),
        cl.SimArgs);
}

// One run of the wizard: the session and every part that works on it, wired to a front end's view.
struct WizardAssembly {
    WizardAssembly(WizardView& view, const CommandLine& cl)
        : pump(clock),
          port(&pump),
          comm(session.link, session.UpdateAborted, session.EnterDeepSleep, session.device.DeviceIdText, port,
               clock, pump),
          tasks(view, clock),
          context{session, comm, tasks, texts, view, clock, pump, priority, {}},
          finder(CableFinderFor(cl, session)),
          opener(port),
          cable(session.device, *finder, opener, portSystem, view, texts, cl.Port),
          device(context, &cable),
          machine(session, view, tasks, texts, device, priority, StartupOptionsFrom(cl)) {
        context.ResetStage = [this] { machine.ResetStage(); };
        device.OnRelease = [this] { port.Close(); };
    }

    Session session;
    SystemClock clock;
    QtEventPump pump;
    SerialPort port;
    CommModule comm;
    TaskList tasks;
    TextDatabase texts;
    OsPriorityControl priority;
    UpdateContext context;
    std::unique_ptr<CableFinder> finder;
    SerialPortOpener opener;
    LinuxPortSystem portSystem;
    CableCheck cable;
    WizardDevice device;
    StageMachine machine;
};
