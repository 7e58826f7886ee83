// The stage machine driving the simulated DC on the virtual clock, with clicks delivered during its waits as
// the event loop delivers them.
#include <QtTest>

#include "fakes/update_fixture.h"
#include "wizard/wizard_device.h"

namespace {

// The wizard wired as in the program, on the fixture's session, DC and recording view.
struct WiredWizard {
    explicit WiredWizard(const DcConfig& dc) : f(dc) {
        options.AppDir = f.appDir.path();
        options.ExeDir = QFileInfo(BuiltTextDatabase()).absolutePath();
        options.StartupResource = QStringLiteral("KAV.1F.FWR|KAV 1F||5000");
        machine =
            std::make_unique<StageMachine>(f.session, f.view, f.tasks, f.texts, device, f.priority, options);
        f.context->ResetStage = [this] { machine->ResetStage(); };
    }
    // Clicks that arrive while the link waits next.
    void During(std::function<void()> clicks) { f.sim.ScheduleAt(f.clock.Now() + 0.001, std::move(clicks)); }

    UpdateFixture f;
    StartupOptions options;
    WizardDevice device{*f.context, nullptr};
    std::unique_ptr<StageMachine> machine;
};

}  // namespace

class WizardOnDcTest : public QObject {
    Q_OBJECT

private slots:
    void clicksDuringThePage1Exchange_data() {
        QTest::addColumn<int>("click");  // 0 Next, 1 Back, 2 Close
        QTest::addColumn<int>("deepSleeps");
        QTest::newRow("Next again") << 0 << 1;
        QTest::newRow("Back") << 1 << 1;
        QTest::newRow("Close: the exchange ends first") << 2 << 0;
    }
    void clicksDuringThePage1Exchange() {
        QFETCH(int, click);
        QFETCH(int, deepSleeps);
        WiredWizard w(ProfileDc(256, 287));
        QVERIFY(w.machine->Load());
        bool buttonsOff = false, endedInsideTheWait = false;
        w.During([&] {
            buttonsOff = !w.f.view.Enabled(WizardButton::Next) && !w.f.view.Enabled(WizardButton::Back);
            click == 0   ? w.machine->NextClick()
            : click == 1 ? w.machine->BackClick()
                         : w.machine->CloseClick();
            endedInsideTheWait = w.machine->Ended();
        });
        w.machine->NextClick();
        QVERIFY(buttonsOff);
        QVERIFY(!endedInsideTheWait);
        QCOMPARE(w.f.Count(0x84, 2), 1);
        QCOMPARE(w.f.Count(0xA8, 3), deepSleeps);
        QCOMPARE(w.machine->Ended(), click == 2);
        if (click != 2) {
            QCOMPARE(w.machine->CurrentStage(), 2);
            QVERIFY(w.f.view.Enabled(WizardButton::Next) && w.f.view.Enabled(WizardButton::Back));
        }
    }

    // The update fails after its backup; Close finds the DC (again on page 2 after Back and Next, or still on
    // the task list) and writes the profile back while every button is clicked once more.
    void recoveryAtClose_data() {
        QTest::addColumn<bool>("backAndNext");
        QTest::newRow("straight from the failed update") << false;
        QTest::newRow("after Back and Next to page 2") << true;
    }
    void recoveryAtClose() {
        QFETCH(bool, backAndNext);
        DcConfig dc = ProfileDc(256, 287);
        dc.faults.refusals = {{0xB5, DcPhase::Data, 4}};  // the first image block, to the end of its tries
        WiredWizard w(dc);
        QVERIFY(w.machine->Load());
        w.machine->NextClick();
        w.machine->NextClick();
        QVERIFY(!w.f.session.wizard.ProfileRestored && QFile::exists(w.f.BackupPath()));
        if (backAndNext) {
            w.machine->BackClick();
            w.machine->NextClick();
        }
        const int stage = w.machine->CurrentStage();
        const QString page = w.f.view.instructions;
        const QString restored =
            w.f.Text(Txt::RestoringProfile) + '|' + w.f.Text(Txt::Done);  // Close closes them
        w.f.view.answers = {IdYes, IdOk};
        const std::size_t before = w.f.view.rows.size();
        w.During([&] {
            w.machine->CloseClick();
            w.machine->BackClick();
            w.machine->NextClick();
            w.machine->CloseClick();
        });
        w.machine->CloseClick();
        QVERIFY(w.machine->Ended());
        QCOMPARE(w.f.view.boxes.size(), std::size_t(2));  // the question and the instructions, once
        QCOMPARE(w.f.view.rows.size(), before + 1);       // one restore, confirmed
        QCOMPARE(w.f.view.rows.back().event + '|' + w.f.view.rows.back().status, restored);
        QVERIFY(!QFile::exists(w.f.BackupPath()));
        QCOMPARE(w.machine->CurrentStage(), stage);
        QCOMPARE(w.f.view.instructions, page);
        QCOMPARE(w.f.sim.Sent().back(), (Bytes{0xA8, 0x99, 0x00}));  // the DC is left awake
    }
};

QTEST_GUILESS_MAIN(WizardOnDcTest)
#include "test_wizard_on_dc.moc"
