#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QProcess>

#include "app/command_line.h"
#include "app/unconnected_device.h"
#include "resources/string_resources.h"
#include "support/clock.h"
#include "support/process_priority.h"
#include "support/text_database.h"
#include "wizard/session.h"
#include "wizard/stage_machine.h"
#include "wizard/task_list.h"

inline StartupOptions StartupOptionsFrom(const CommandLine& cl) {
    StartupOptions o;
    o.ExeDir = QCoreApplication::applicationDirPath();
    o.AppDir = cl.AppDir.isEmpty() ? o.ExeDir : QDir(cl.AppDir).absolutePath();
    o.DataDir = QStringLiteral(KAV_DATA_DIR);
    o.FirmwareFile = cl.Firmware.isEmpty() ? QString() : QDir::current().absoluteFilePath(cl.Firmware);
    o.LanguageCode = cl.LanguageCode;
    o.StartupResource = LoadStringResource(ResourceStartup);
    o.StartProgram = [](const QString& program) { return QProcess::startDetached(program, {}); };
    return o;
}

// One run of the wizard: the session and the parts that work on it, wired to a front end's view.
struct WizardAssembly {
    WizardAssembly(WizardView& view, StartupOptions options)
        : tasks(view, clock),
          device(session),
          machine(session, view, tasks, texts, device, priority, options) {}

    Session session;
    SystemClock clock;
    TaskList tasks;
    TextDatabase texts;
    OsPriorityControl priority;
    UnconnectedDevice device;
    StageMachine machine;
};
