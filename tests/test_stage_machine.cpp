// The wizard's stages: start-up, Next, Back, Close, with fakes for the device and the window.
#include <QtTest>

#include "fakes/wizard_fixture.h"
#include "wizard/instruction_pages.h"

namespace {

const QString kPage1Start = QStringLiteral("1. Plug the USB interface cable into an USB port on the PC.");

}  // namespace

class StageMachineTest : public QObject {
    Q_OBJECT

private slots:
    void startupShowsPage1WithCaptionsFromTheTextDatabase() {
        WizardFixture f;
        QVERIFY(f.Machine().Load());
        QCOMPARE(f.Machine().CurrentStage(), 1);
        QVERIFY(f.view.instructions.startsWith(kPage1Start));
        QVERIFY(!f.view.pictureVisible);
        auto& b = f.view.buttons;
        QCOMPARE((QStringList{f.view.frameCaption, f.view.windowCaption, b[WizardButton::Next].caption,
                              b[WizardButton::Back].caption, b[WizardButton::Close].caption}),
                 (QStringList{"INSTRUCTIONS", "KAV 1F Firmware Update", "Next", "Back", "Close"}));
        QCOMPARE(f.view.headers, (std::vector<QString>{"Time", "Event", "Status"}));
        QVERIFY(!b[WizardButton::Print].visible && !f.view.Enabled(WizardButton::Back));
        QVERIFY(f.view.Enabled(WizardButton::Next) && f.view.onTop && f.view.trayShown &&
                f.view.boxes.empty());
        QVERIFY(f.session.wizard.ProfileRestored);
        QCOMPARE(f.device.getCodeCalls + f.device.testInterfaceCalls, 2);
    }

    // The resource's fields choose the firmware file, the language and the program run at Close; the command
    // line's language and file win over them.
    void resourceFieldsChooseLanguageAndProgram_data() {
        QTest::addColumn<QString>("resource");
        QTest::addColumn<int>("code");  // --lang, 0: not given
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("program");
        QTest::newRow("as shipped") << "KAV.1F.FWR|KAV 1F||5000" << 0 << "" << 1 << "";
        QTest::newRow("code 6000") << "X.FWR|KAV 1F|after.sh|6000" << 0 << "" << 2 << "after.sh";
        QTest::newRow("code 6999") << "KAV.1F.FWR|x|after.sh|6999" << 0 << "" << 2 << "after.sh";
        QTest::newRow("no language field") << "KAV.1F.FWR|x|after.sh" << 0 << "" << 1 << "after.sh";
        QTest::newRow("two fields only") << "KAV.1F.FWR|x" << 0 << "" << 1 << "";
        QTest::newRow("command line")
            << "KAV.1F.FWR|KAV 1F||5000" << 6000 << "/elsewhere/other.fwr" << 2 << "";
    }
    void resourceFieldsChooseLanguageAndProgram() {
        QFETCH(QString, resource);
        QFETCH(int, code);
        QFETCH(QString, firmware);
        QFETCH(int, column);
        QFETCH(QString, program);
        WizardFixture f(resource);
        if (code)
            f.options.LanguageCode = code, f.options.FirmwareFile = firmware;
        QVERIFY(f.Machine().Load());
        QCOMPARE(f.session.wizard.FirmwareFilePath,
                 firmware.isEmpty() ? QDir(f.appDir.path()).filePath(resource.section('|', 0, 0)) : firmware);
        QCOMPARE(f.session.wizard.LanguageColumn, column);
        QCOMPARE(f.session.wizard.ProgramOnClose, program);
        // Column 2 is German: the captions must change with it.
        QCOMPARE(f.view.buttons[WizardButton::Next].caption == QStringLiteral("Next"), column == 1);
        f.Machine().CloseClick();
        QCOMPARE(f.startedPrograms,
                 program.isEmpty() ? QStringList() : QStringList{QDir(f.appDir.path()).filePath(program)});
    }

    // Start-up ends with status 2; only a rejected firmware file goes through the Close sequence.
    void startupEnds_data() {
        QTest::addColumn<int>("fault");
        QTest::addColumn<bool>("box");          // the text database message
        QTest::addColumn<QList<int>>("calls");  // GetCode, TestInterface, StopLink, ReleaseLink
        QTest::newRow("the application folder's database is no database")
            << 0 << true << QList<int>{0, 0, 0, 0};
        QTest::newRow("no text database") << 1 << true << QList<int>{0, 0, 0, 0};
        QTest::newRow("firmware file rejected") << 2 << false << QList<int>{1, 0, 1, 1};
        QTest::newRow("cable search given up") << 3 << false << QList<int>{1, 1, 0, 0};
    }
    void startupEnds() {
        QFETCH(int, fault);
        QFETCH(bool, box);
        WizardFixture f;
        if (fault == 0) {  // found first, so it is the one opened
            QFile local(QDir(f.appDir.path()).filePath("FirmwareUpdate.lng"));
            QVERIFY(local.open(QIODevice::WriteOnly) && local.write(QByteArray(4096, 'x')) == 4096);
        }
        if (fault == 1)
            f.options.ExeDir = f.appDir.path();  // nowhere to be found
        f.device.codeOk = fault != 2;
        f.device.interfaceOk = fault != 3;
        QVERIFY(!f.Machine().Load());
        QVERIFY(f.Machine().Ended());
        QCOMPARE(f.Machine().ExitCode(), int(ExitStartupEnded));
        const auto& d = f.device;
        QTEST((QList<int>{d.getCodeCalls, d.testInterfaceCalls, d.stopLinkCalls, d.releaseCalls}), "calls");
        QCOMPARE(f.view.boxes.size(), size_t(box));
        if (box) {
            QCOMPARE(f.view.boxes[0].text,
                     QStringLiteral("The text database FirmwareUpdate.lng could not be opened (0001)."));
            QCOMPARE(f.view.boxes[0].style, int(MbOkCritical));
        }
        QVERIFY(f.view.instructions.isEmpty() && !f.view.trayShown && !f.texts.IsOpen());
        QCOMPARE(d.recoveries, 0);
    }

    void failedStepsOnPage1_data() {
        QTest::addColumn<bool>("dcAnswers");
        QTest::addColumn<QString>("deviceId");
        QTest::addColumn<bool>("deepSleepOk");
        QTest::addColumn<QString>("box");  // empty: none
        QTest::addColumn<int>("style");
        QTest::newRow("no DC: silently back") << false << "" << true << "" << 0;
        QTest::newRow("another model") << true << "OTHER V1A 0512KB" << true
                                       << "This update is only for the KAV 1F!" << int(MbOkExclamation);
        QTest::newRow("Deep Sleep fails")
            << true << "KAV1F V1A 0512KB" << false
            << "Could not set DC into Deep Sleep mode. Please replease step 1 to 4 again."
            << int(MbOkCritical);
    }
    void failedStepsOnPage1() {
        QFETCH(bool, dcAnswers);
        QFETCH(QString, deviceId);
        QFETCH(bool, deepSleepOk);
        QFETCH(QString, box);
        WizardFixture f;
        f.device.dcAnswers = dcAnswers;
        f.device.deviceId = deviceId;
        f.device.deepSleepOk = deepSleepOk;
        QVERIFY(f.Machine().Load());
        const QString page = f.view.instructions;
        f.Machine().NextClick();
        QCOMPARE(f.Machine().CurrentStage(), 1);
        QCOMPARE(f.view.instructions, page);
        QVERIFY(!f.view.Enabled(WizardButton::Back));
        QCOMPARE(f.device.deepSleepRequests.size(), size_t(!deepSleepOk));  // asked for only once recognised
        QCOMPARE(f.view.boxes.size(), size_t(box.isEmpty() ? 0 : 1));
        if (!box.isEmpty()) {
            QCOMPARE(f.view.boxes[0].text + '|' + f.view.boxes[0].title, box + "|Firmware Update");
            QTEST(f.view.boxes[0].style, "style");
        }
    }

    void nextEntersDeepSleepAndShowsPage2ThenBack() {
        WizardFixture f;
        f.ToPage2();
        QCOMPARE(f.device.deepSleepRequests, std::vector<bool>{true});
        QCOMPARE(f.session.device.DeviceVersion, QStringLiteral("1A"));
        QCOMPARE(f.view.instructions, InstructionPageText(2));
        QVERIFY(f.view.pictureVisible && f.view.boxes.empty());
        QVERIFY(f.view.Enabled(WizardButton::Back) && f.view.Enabled(WizardButton::Next));
        f.Machine().BackClick();
        QCOMPARE(f.Machine().CurrentStage(), 1);
        QVERIFY(f.view.instructions.startsWith(kPage1Start) && !f.view.pictureVisible && f.view.frameVisible);
        QVERIFY(!f.view.Enabled(WizardButton::Back) && f.view.Enabled(WizardButton::Next));
    }

    void nextOnPage2RunsTheUpdate() {
        WizardFixture f;
        f.ToPage2();
        bool backDisabledDuringUpdate = false;
        f.device.duringUpdate = [&] {
            backDisabledDuringUpdate = !f.view.Enabled(WizardButton::Back);
            QVERIFY(!f.session.EnterDeepSleep);
            QVERIFY(f.session.profile.ProfileBackupActive);
            QVERIFY(!f.view.frameVisible);
            QVERIFY(f.view.taskListVisible);
            QVERIFY(!f.view.Enabled(WizardButton::Next));
            f.Machine().ResetStage();  // a failure inside the update must not re-enable Back yet
            QVERIFY(!f.view.Enabled(WizardButton::Back));
            f.Machine().BackClick();  // and a click on it is ignored
            f.Machine().NextClick();
            QCOMPARE(f.Machine().CurrentStage(), 3);
        };
        f.Machine().NextClick();
        QCOMPARE(f.device.updateCalls, 1);
        QVERIFY(backDisabledDuringUpdate);
        QVERIFY(f.view.Enabled(WizardButton::Back));
        QVERIFY(!f.view.Enabled(WizardButton::Next));
        QCOMPARE(f.priority.classes, std::vector<int>{PriorityNormal});
    }

    void exitStatusFollowsTheLastUpdate_data() {
        QTest::addColumn<QList<bool>>("outcomes");
        QTest::addColumn<int>("status");
        QTest::newRow("no update") << QList<bool>{} << int(ExitClosedBeforeUpdate);
        QTest::newRow("success") << QList<bool>{true} << int(ExitUpdateSucceeded);
        QTest::newRow("failure") << QList<bool>{false} << int(ExitUpdateFailed);
        QTest::newRow("failure then success") << QList<bool>{false, true} << int(ExitUpdateSucceeded);
        QTest::newRow("success then failure") << QList<bool>{true, false} << int(ExitUpdateFailed);
    }
    // Back after an update clears its rows and allows another attempt.
    void exitStatusFollowsTheLastUpdate() {
        QFETCH(QList<bool>, outcomes);
        QFETCH(int, status);
        WizardFixture f;
        QVERIFY(f.Machine().Load());
        f.device.duringUpdate = [&] { f.tasks.InsertTaskList(IconFailure, "failed", ""); };
        for (bool ok : outcomes) {
            f.device.updateOk = ok;
            f.Machine().NextClick();
            f.Machine().NextClick();
            QVERIFY(f.session.UpdateAborted == !ok && f.view.rows.size() == 1);
            f.Machine().BackClick();
            QCOMPARE(f.Machine().CurrentStage(), 1);
            QVERIFY(f.view.rows.empty() && f.tasks.Rows().empty() && !f.view.taskListVisible);
            QVERIFY(f.view.frameVisible && f.view.instructions.startsWith(kPage1Start));
            QVERIFY(f.view.Enabled(WizardButton::Next) && !f.view.Enabled(WizardButton::Back));
            QVERIFY(!f.session.UpdateAborted);
        }
        QCOMPARE(f.device.updateCalls, outcomes.size());
        bool ended = false;
        f.Machine().OnEnded = [&] { ended = true; };
        f.Machine().CloseClick();
        QVERIFY(ended);
        QCOMPARE(f.Machine().ExitCode(), status);
    }

    // Close after an update runs the recovery only for a profile left unrestored; Close during it asks, and
    // on Yes lets the update unwind before the program ends. Clicks after the end do nothing.
    void close_data() {
        QTest::addColumn<bool>("during");
        QTest::addColumn<bool>("restored");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("recoveries");
        QTest::addColumn<bool>("again");  // then Back, Next, Next: an update that stops before its backup
        QTest::newRow("after, restored") << false << true << 0 << 0 << false;
        QTest::newRow("after, left unrestored") << false << false << 0 << 1 << false;
        QTest::newRow("after, left unrestored, tried again") << false << false << 0 << 1 << true;
        QTest::newRow("during, Yes") << true << false << int(IdYes) << 1 << false;
        QTest::newRow("during, No") << true << false << int(IdNo) << 0 << false;
    }
    void close() {
        QFETCH(bool, during);
        QFETCH(bool, restored);
        QFETCH(int, answer);
        QFETCH(bool, again);
        WizardFixture f;
        f.ToPage2();
        f.session.profile.BackupFilePath = QDir(f.appDir.path()).filePath("513.210417.bin");
        QVERIFY(restored || QFile(f.session.profile.BackupFilePath).open(QIODevice::WriteOnly));
        bool endedInside = false, linkStoppedInside = false;
        f.device.duringUpdate = [&] {
            f.session.wizard.ProfileRestored = restored;
            if (during) {
                f.view.answers = {answer};
                f.Machine().CloseClick();
                endedInside = f.Machine().Ended();
                linkStoppedInside = f.session.link.LinkStop;
            }
        };
        f.device.updateOk = restored;
        f.Machine().NextClick();
        if (again) {
            f.device.duringUpdate = nullptr;
            f.Machine().BackClick();
            f.Machine().NextClick();
            f.Machine().NextClick();
        }
        QVERIFY(!endedInside);
        QCOMPARE(linkStoppedInside, answer == IdYes);
        QCOMPARE(f.view.boxes.size(), size_t(during));
        if (during)
            QCOMPARE(f.view.boxes[0].style, MbYesNoWarning | MbDefaultSecond);
        if (answer == IdNo) {
            QVERIFY(!f.Machine().Ended() && f.view.Enabled(WizardButton::Back) && f.device.recoveries == 0);
            return;
        }
        if (!during)
            f.Machine().CloseClick();
        QVERIFY(f.Machine().Ended());
        QTEST(f.device.recoveries, "recoveries");
        QCOMPARE(f.Machine().ExitCode(), int(restored ? ExitUpdateSucceeded : ExitUpdateFailed));
        QVERIFY(!f.view.onTop && !f.view.trayShown && !f.texts.IsOpen());
        QVERIFY(f.session.link.LinkStop && f.session.link.LinkError);
        f.Machine().NextClick();
        f.Machine().CloseClick();
        QCOMPARE(f.device.readIdCalls + f.device.updateCalls, again ? 4 : 2);
        QCOMPARE(f.device.stopLinkCalls + f.device.releaseCalls + f.device.recoveries,
                 2 + (restored ? 0 : 1));
    }
};

QTEST_GUILESS_MAIN(StageMachineTest)
#include "test_stage_machine.moc"
