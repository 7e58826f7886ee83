#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <functional>
#include <memory>

#include "fakes/fake_device.h"
#include "fakes/recording_view.h"
#include "run/session.h"
#include "run/task_list.h"
#include "support/clock.h"
#include "support/process_priority.h"
#include "support/text_database.h"
#include "wizard/stage_machine.h"

class RecordingPriority final : public PriorityControl {
public:
    int SetProcessPriority(qint64, qintptr, int priorityClass) override {
        classes.push_back(priorityClass);
        if (priorityClass == PriorityNormal && OnNormal)
            OnNormal();
        return priorityClass;
    }
    std::vector<int> classes;
    std::function<void()> OnNormal;
};

// The built text database, as the build generated it.
inline QString BuiltTextDatabase() {
    return qEnvironmentVariable("KAV_TEST_LNG");
}

// A wizard with fakes for everything outside it, started in an empty application folder. The text database is
// found beside the "executable" unless a test puts another one into the application folder.
struct WizardFixture {
    explicit WizardFixture(const QString& resource201 = QStringLiteral("KAV.1F.FWR|KAV 1F||5000")) {
        options.AppDir = appDir.path();
        options.ExeDir = QFileInfo(BuiltTextDatabase()).absolutePath();
        options.StartupResource = resource201;
        options.StartProgram = [this](const QString& program) {
            startedPrograms << program;
            return false;
        };
        // The firmware file the resource names is there (the fake device reads nothing).
        QFile(appDir.filePath(resource201.section(u'|', 0, 0))).open(QIODevice::WriteOnly);
        session.firmware.FwrModelName = QStringLiteral("KAV 1F");
        session.firmware.FwrModelId = QStringLiteral("KAV1F");
    }
    StageMachine& Machine() {
        if (!machine)
            machine = std::make_unique<StageMachine>(session, view, tasks, texts, device, priority, options);
        return *machine;
    }
    // Page 2, reached the way a user does: its picture shown, Back enabled.
    void ToPage2() {
        QVERIFY(Machine().Load());
        Machine().NextClick();
        QCOMPARE(Machine().CurrentStage(), 2);
        QVERIFY(view.pictureVisible && view.Enabled(WizardButton::Back));
    }

    QTemporaryDir appDir;
    StartupOptions options;
    QStringList startedPrograms;
    Session session;
    RecordingView view;
    VirtualClock clock;
    TaskList tasks{view, clock};
    TextDatabase texts;
    FakeDevice device;
    RecordingPriority priority;
    std::unique_ptr<StageMachine> machine;
};
