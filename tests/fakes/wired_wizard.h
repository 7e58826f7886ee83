#pragma once

#include <functional>
#include <memory>

#include "fakes/update_fixture.h"
#include "wizard/wizard_device.h"

// The wizard wired as in the program, on the fixture's session, DC and recording view.
struct WiredWizard {
    explicit WiredWizard(const DcConfig& dc, TestFirmware fw = {}) : f(dc, fw) {
        options.AppDir = f.appDir.path();
        options.ExeDir = QFileInfo(BuiltTextDatabase()).absolutePath();
        options.StartupResource = QStringLiteral("KAV.1F.FWR|KAV 1F||5000");
        Start();
    }
    // The program started again: a fresh session and stage machine, the same DC, folder and view.
    void NewRun() {
        f.session = Session{};
        f.session.AppDir = f.appDir.path();
        Start();
    }
    void Start() {
        machine =
            std::make_unique<StageMachine>(f.session, f.view, f.tasks, f.texts, device, f.priority, options);
    }
    // Clicks that arrive while the link waits next.
    void During(std::function<void()> clicks) { f.sim.ScheduleAt(f.clock.Now() + 0.001, std::move(clicks)); }

    UpdateFixture f;
    StartupOptions options;
    WizardDevice& device = f.run.device;
    std::unique_ptr<StageMachine> machine;
};
