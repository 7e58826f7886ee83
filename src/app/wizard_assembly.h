#pragma once

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <functional>
#include <memory>

#include "app/command_line.h"
#include "app/simulator_process.h"
#include "link/device_link.h"
#include "link/port_system.h"
#include "link/qt_event_pump.h"
#include "link/serial_port.h"
#include "link/tracing_port.h"
#include "resources/string_resources.h"
#include "run/logged_view.h"
#include "run/session.h"
#include "run/task_list.h"
#include "run/update_context.h"
#include "run/update_history.h"
#include "support/app_folders.h"
#include "support/clock.h"
#include "support/process_priority.h"
#include "support/run_log.h"
#include "support/text_database.h"
#include "wizard/cable_check.h"
#include "wizard/run_wiring.h"
#include "wizard/stage_machine.h"

inline AppFolders UserFoldersFor(const CommandLine& cl) {
    return ResolveAppFolders(QCoreApplication::applicationDirPath(), cl.AppDir,
                             QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
}

// The file's SHA-256 in hex, so that a replay of the log can tell the same firmware file; empty when
// unreadable.
inline QString FileSha256(const QString& path) {
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return file.open(QIODevice::ReadOnly) && hash.addData(&file) ? QString::fromLatin1(hash.result().toHex())
                                                                 : QString();
}

inline StartupOptions StartupOptionsFrom(const CommandLine& cl, RunLog& log) {
    StartupOptions o;
    const AppFolders folders = UserFoldersFor(cl);
    o.ExeDir = folders.ExeDir;
    o.AppDir = folders.AppDir;
    o.BackupDir = folders.BackupDir;
    o.DataDir = folders.DataDir;
    o.HistoryFile = HistoryFileIn(folders.UserDir);
    o.FirmwareFile = cl.Firmware.isEmpty() ? QString() : QDir::current().absoluteFilePath(cl.Firmware);
    o.LanguageCode = cl.LanguageCode;
    o.StartupResource = LoadStringResource(ResourceStartup);
    o.StartProgram = [](const QString& program) { return QProcess::startDetached(program, {}); };
    o.LogPath = log.IsOpen() ? log.Path() : QString();
    // The wire of an update that failed or was stopped stays in the log, so that support can follow it.
    o.OnUpdateEnded = [&log](bool succeeded) {
        succeeded ? log.DropHeldWire() : log.KeepHeldWire(QStringLiteral("the update did not succeed"));
    };
    // Only our own simulated DC may take the demo firmware: a real DC may sit behind a pseudo-terminal too.
    o.SimulatedDc = cl.Simulate || (!cl.Port.isEmpty() && HeldBySimulatedDc(cl.Port));
    o.FindDemoFirmware = cl.Simulate;
    return o;
}

inline std::unique_ptr<CableFinder> CableFinderFor(const CommandLine& cl, const Session& session,
                                                   const TextDatabase& texts, const PortSystem& system) {
    if (!cl.Simulate || !cl.Port.isEmpty())  // a simulated DC on a given port is already running
        return std::make_unique<SystemCableFinder>(system);
    return std::make_unique<SimulatorCableFinder>(
        session, texts, QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("kav-dc-sim")),
        cl.SimArgs);
}

// One run of the wizard: the session and every part that works on it, wired to a front end's view. Everything
// the view is told also goes into the run log, and the link's bytes: with --trace as they pass, otherwise
// after an update that did not succeed, or at the end of a run that did not end with success.
struct WizardAssembly {
    WizardAssembly(WizardView& frontView, const CommandLine& cl, RunLog& runLog)
        : log(runLog),
          view(frontView, runLog),
          pump(clock),
          port(&pump),
          tracer(port, runLog),
          run(view, tracer, clock, pump, priority),
          session(run.session),
          texts(run.texts),
          finder(CableFinderFor(cl, session, texts, portSystem)),
          opener(port),
          cable(session.cable, *finder, opener, portSystem, view, texts, cl.Port),
          machine(session, view, run.tasks, texts, run.device, priority, StartupOptionsFrom(cl, runLog)),
          portFoundBy(!cl.Port.isEmpty() ? QStringLiteral("named by --port")
                      : cl.Simulate      ? QStringLiteral("the simulated DC (kav-dc-sim)")
                                         : QStringLiteral("found by searching for the interface cable")) {
        log.WriteWireAtOnce(cl.Trace);
        run.stop.OnAsked = [this] { log.Write(QStringLiteral("stop asked")); };
        run.device.UseCable(&cable);
        run.device.OnRelease = [this] { port.Close(); };
        port.OnOpened = [this](const LowLatency& latency) {
            log.Write(latency.Summary());
            if (OnPortLatency)
                OnPortLatency(latency.Summary());
        };
    }

    // Start-up, with what a support person needs to know about it in the log.
    bool Load() {
        const bool ok = machine.Load();
        LogFirmwareFile();
        log.Write(QStringLiteral("backup folder: ") + QDir::toNativeSeparators(session.BackupFolder()));
        log.Write(session.cable.InterfacePortName.isEmpty()
                      ? QStringLiteral("port: none")
                      : QStringLiteral("port: %1, %2").arg(session.cable.InterfacePortName, portFoundBy));
        log.Flush();
        return ok;
    }

    void LogFirmwareFile() {
        const FirmwareImage& fw = session.firmware;
        const QString kind = fw.CodeAndCode2 ? QStringLiteral("two images")
                             : fw.Code2Only  ? QStringLiteral("second image only")
                             : fw.CodeOnly   ? QStringLiteral("one image")
                                             : QStringLiteral("not loaded");
        log.Write(QStringLiteral("firmware file: %1 (%2 bytes, sha256 %3): %4, model %5, version %6, "
                                 "sub-version %7, %8 + %9 blocks")
                      .arg(QDir::toNativeSeparators(machine.FirmwareFilePath()))
                      .arg(QFileInfo(machine.FirmwareFilePath()).size())
                      .arg(FileSha256(machine.FirmwareFilePath()), kind, fw.FwrModelName, fw.FwrVersion)
                      .arg(fw.FwrSubVersion)
                      .arg(fw.CodeBlockCount)
                      .arg(fw.Code2BlockCount) +
                  (fw.Demo ? QStringLiteral(", the demo firmware") : QString()));
    }

    // A decision of the person at the window or the terminal, in the log so that a replay can make it again.
    void Decide(const char* word) {
        log.Write(machine.TalkingToDc() && qstrcmp(word, "close") == 0
                      ? QStringLiteral("decision: close, while the DC is busy")
                      : QStringLiteral("decision: ") + QLatin1String(word));
    }

    // The end of the run in the log; the exit status comes back.
    int Finish(int status) {
        view.Finish();
        if (status == 0)
            log.DropHeldWire();
        else
            log.KeepHeldWire(QStringLiteral("since the last update's end"));
        log.Write(QStringLiteral("exit status %1").arg(status));
        log.Flush();
        return status;
    }

    RunLog& log;
    LoggedView view;
    SystemClock clock;
    QtEventPump pump;
    SerialPort port;
    TracingPort tracer;
    OsPriorityControl priority;
    RunWiring run;
    Session& session;
    TextDatabase& texts;
    OsPortSystem portSystem;
    std::unique_ptr<CableFinder> finder;
    SerialPortOpener opener;
    CableCheck cable;
    StageMachine machine;
    QString portFoundBy;
    std::function<void(const QString&)> OnPortLatency;  // what the driver granted against reply latency
};
