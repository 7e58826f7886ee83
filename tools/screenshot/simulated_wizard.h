#pragma once

#include <QDir>

#include "link/device_link.h"
#include "run/session.h"
#include "run/task_list.h"
#include "run/update_context.h"
#include "support/clock.h"
#include "support/process_priority.h"
#include "support/text_database.h"
#include "tools/dcsim/simulated_link.h"
#include "wizard/run_wiring.h"
#include "wizard/stage_machine.h"

// The process keeps its priority: a picture or a test has no upload to protect.
class KeptPriority final : public PriorityControl {
public:
    int SetProcessPriority(qint64, qintptr, int priorityClass) override { return priorityClass; }
};

// The whole wizard, as the program wires it, on the in-process simulated DC and a virtual clock: an update's
// restart waits cost no time. Shown through any view: the documentation's screenshots and the keyboard test.
struct SimulatedWizard {
    // textsFolder holds FirmwareUpdate.lng; languageCode is 5000 .. 9000. No firmware file: the one in
    // appDir, or the user's choice.
    SimulatedWizard(WizardView& view, const QString& firmwareFile, const QString& textsFolder,
                    const QString& appDir, int languageCode, DcConfig dc = {})
        : sim(clock, std::move(dc)),
          run(view, sim.Serial(), clock, sim.Pump(), priority),
          session(run.session),
          machine(run.session, view, run.tasks, run.texts, run.device, priority,
                  Options(firmwareFile, textsFolder, appDir, languageCode)) {}

    static StartupOptions Options(const QString& firmwareFile, const QString& textsFolder,
                                  const QString& appDir, int languageCode) {
        StartupOptions o;
        o.AppDir = appDir;
        o.ExeDir = textsFolder;
        o.FirmwareFile = firmwareFile.isEmpty() ? QString() : QDir(firmwareFile).absolutePath();
        o.LanguageCode = languageCode;
        o.StartupResource = QStringLiteral("KAV.1F.FWR|KAV 1F||5000");
        o.SimulatedDc = true;
        return o;
    }

    VirtualClock clock;
    SimulatedLink sim;
    KeptPriority priority;
    RunWiring run;
    Session& session;
    StageMachine machine;
};
