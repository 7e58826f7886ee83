// The wizard's stages: start-up, Next, Back, Close, with fakes for the device and the window.
#include <QSqlDatabase>
#include <QSqlQuery>
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
        QCOMPARE(f.view.frameCaption, QStringLiteral("INSTRUCTIONS"));
        QCOMPARE(f.view.windowCaption, QStringLiteral("KAV 1F Firmware Update"));
        QCOMPARE(f.view.buttons[WizardButton::Next].caption, QStringLiteral("Next"));
        QCOMPARE(f.view.buttons[WizardButton::Back].caption, QStringLiteral("Back"));
        QCOMPARE(f.view.buttons[WizardButton::Close].caption, QStringLiteral("Close"));
        QCOMPARE(f.view.headers, (std::vector<QString>{"Time", "Event", "Status"}));
        QVERIFY(!f.view.buttons[WizardButton::Print].visible);
        QVERIFY(!f.view.Enabled(WizardButton::Back));
        QVERIFY(f.view.Enabled(WizardButton::Next));
        QVERIFY(f.view.onTop);
        QVERIFY(f.view.trayShown);
        QVERIFY(f.view.boxes.empty());
        QCOMPARE(f.session.wizard.FirmwareFilePath, QDir(f.appDir.path()).filePath("KAV.1F.FWR"));
        QCOMPARE(f.session.wizard.ProgramOnClose, QString());
        QVERIFY(f.session.wizard.ProfileRestored);
        QCOMPARE(f.device.getCodeCalls, 1);
        QCOMPARE(f.device.testInterfaceCalls, 1);
    }

    void resourceFieldsChooseLanguageAndProgram_data() {
        QTest::addColumn<QString>("resource");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("program");
        QTest::newRow("as shipped") << "KAV.1F.FWR|KAV 1F||5000" << 1 << "";
        QTest::newRow("code 6000") << "KAV.1F.FWR|KAV 1F|after.sh|6000" << 2 << "after.sh";
        QTest::newRow("code 6999") << "KAV.1F.FWR|x|after.sh|6999" << 2 << "after.sh";
        QTest::newRow("no language field") << "KAV.1F.FWR|x|after.sh" << 1 << "after.sh";
        QTest::newRow("two fields only") << "KAV.1F.FWR|x" << 1 << "";
    }
    void resourceFieldsChooseLanguageAndProgram() {
        QFETCH(QString, resource);
        QFETCH(int, column);
        QFETCH(QString, program);
        WizardFixture f(resource);
        QVERIFY(f.Machine().Load());
        QCOMPARE(f.session.wizard.LanguageColumn, column);
        QCOMPARE(f.session.wizard.ProgramOnClose, program);
        // Column 2 is German: the captions must change with it.
        QCOMPARE(f.view.buttons[WizardButton::Next].caption == QStringLiteral("Next"), column == 1);
        f.Machine().CloseClick();
        QCOMPARE(f.startedPrograms,
                 program.isEmpty() ? QStringList() : QStringList{QDir(f.appDir.path()).filePath(program)});
    }

    void commandLineOverridesTheResource() {
        WizardFixture f;
        f.options.LanguageCode = 6000;
        f.options.FirmwareFile = QStringLiteral("/elsewhere/other.fwr");
        QVERIFY(f.Machine().Load());
        QCOMPARE(f.session.wizard.LanguageColumn, 2);
        QCOMPARE(f.view.buttons[WizardButton::Close].caption, f.texts.GetText(Txt::Close));
        QVERIFY(f.view.buttons[WizardButton::Close].caption != QStringLiteral("Close"));
        QCOMPARE(f.session.wizard.FirmwareFilePath, QStringLiteral("/elsewhere/other.fwr"));
    }

    void textDatabaseInTheApplicationFolderWins() {
        WizardFixture f;
        // An application folder whose database lacks LANGUAGES: if it is the one opened, the box shows.
        const QString local = QDir(f.appDir.path()).filePath("FirmwareUpdate.lng");
        QVERIFY(QFile::copy(BuiltTextDatabase(), local));
        QFile::setPermissions(local, QFile::ReadOwner | QFile::WriteOwner);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "edit");
            db.setDatabaseName(local);
            QVERIFY(db.open());
            QVERIFY(QSqlQuery(db).exec("DELETE FROM LANGUAGES"));
            db.close();
        }
        QSqlDatabase::removeDatabase("edit");
        QVERIFY(f.Machine().Load());
        QCOMPARE(f.view.boxes.size(), size_t(1));
        QCOMPARE(f.view.boxes[0].text, QStringLiteral("Error 0001"));
    }

    void missingTextDatabaseEndsStartupWithAnEnglishMessage() {
        WizardFixture f;
        f.options.ExeDir = f.appDir.path();  // nowhere to be found
        QVERIFY(!f.Machine().Load());
        QVERIFY(f.Machine().Ended());
        QCOMPARE(f.Machine().ExitCode(), int(ExitStartupEnded));
        QCOMPARE(f.view.boxes.size(), size_t(1));
        QCOMPARE(f.view.boxes[0].text,
                 QStringLiteral("The text database FirmwareUpdate.lng could not be opened (0001)."));
        QCOMPARE(f.view.boxes[0].style, int(MbOkCritical));
        QCOMPARE(f.device.getCodeCalls, 0);
        QCOMPARE(f.device.testInterfaceCalls, 0);
    }

    void rejectedFirmwareFileEndsStartupThroughClose() {
        WizardFixture f;
        f.device.codeOk = false;
        QVERIFY(!f.Machine().Load());
        QCOMPARE(f.Machine().ExitCode(), int(ExitStartupEnded));
        QCOMPARE(f.device.testInterfaceCalls, 0);
        QCOMPARE(f.device.stopLinkCalls, 1);  // the Close sequence ran
        QCOMPARE(f.device.releaseCalls, 1);
        QCOMPARE(f.device.recoveries, 0);
        QVERIFY(!f.view.trayShown);
        QVERIFY(!f.texts.IsOpen());
    }

    void cancelledCableSearchEndsStartupWithoutClose() {
        WizardFixture f;
        f.device.interfaceOk = false;
        QVERIFY(!f.Machine().Load());
        QCOMPARE(f.Machine().ExitCode(), int(ExitStartupEnded));
        QCOMPARE(f.device.stopLinkCalls, 0);
        QCOMPARE(f.device.releaseCalls, 0);
        QVERIFY(f.view.instructions.isEmpty());  // no page was ever shown
    }

    void failedStepsOnPage1_data() {
        QTest::addColumn<bool>("dcAnswers");
        QTest::addColumn<QString>("deviceId");
        QTest::addColumn<bool>("deepSleepOk");
        QTest::addColumn<QString>("box");  // empty: none
        QTest::addColumn<int>("style");
        QTest::addColumn<int>("deepSleepRequests");
        QTest::newRow("no DC: silently back") << false << "" << true << "" << 0 << 0;
        QTest::newRow("another model") << true << "OTHER V1A 0512KB" << true
                                       << "This update is only for the KAV 1F!" << int(MbOkExclamation) << 0;
        QTest::newRow("Deep Sleep fails")
            << true << "KAV1F V1A 0512KB" << false
            << "Could not set DC into Deep Sleep mode. Please replease step 1 to 4 again."
            << int(MbOkCritical) << 1;
    }
    void failedStepsOnPage1() {
        QFETCH(bool, dcAnswers);
        QFETCH(QString, deviceId);
        QFETCH(bool, deepSleepOk);
        QFETCH(QString, box);
        QFETCH(int, style);
        QFETCH(int, deepSleepRequests);
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
        QCOMPARE(int(f.device.deepSleepRequests.size()), deepSleepRequests);
        QCOMPARE(f.view.boxes.size(), size_t(box.isEmpty() ? 0 : 1));
        if (!box.isEmpty()) {
            QCOMPARE(f.view.boxes[0].text, box);
            QCOMPARE(f.view.boxes[0].title, QStringLiteral("Firmware Update"));
            QCOMPARE(f.view.boxes[0].style, style);
        }
    }

    void nextEntersDeepSleepAndShowsPage2() {
        WizardFixture f;
        f.ToPage2();
        QCOMPARE(f.device.deepSleepRequests, std::vector<bool>{true});
        QCOMPARE(f.session.device.DeviceVersion, QStringLiteral("1A"));
        QCOMPARE(f.view.instructions, InstructionPageText(2));
        QVERIFY(f.view.pictureVisible);
        QVERIFY(f.view.Enabled(WizardButton::Back));
        QVERIFY(f.view.Enabled(WizardButton::Next));
        QVERIFY(f.view.boxes.empty());
    }

    void backFromPage2ReturnsToPage1() {
        WizardFixture f;
        f.ToPage2();
        f.Machine().BackClick();
        QCOMPARE(f.Machine().CurrentStage(), 1);
        QVERIFY(f.view.instructions.startsWith(kPage1Start));
        QVERIFY(!f.view.pictureVisible);
        QVERIFY(!f.view.Enabled(WizardButton::Back));
        QVERIFY(f.view.Enabled(WizardButton::Next));
        QVERIFY(f.view.frameVisible);
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

    void abortedFlagAtStage3StartsNothing() {
        WizardFixture f;
        f.ToPage2();
        f.session.UpdateAborted = true;
        f.Machine().NextClick();
        QCOMPARE(f.Machine().CurrentStage(), 3);
        QCOMPARE(f.device.updateCalls, 0);
        QVERIFY(f.view.taskListVisible);
        QVERIFY(!f.view.frameVisible);
        f.Machine().CloseClick();
        QCOMPARE(f.Machine().ExitCode(), int(ExitClosedBeforeUpdate));
    }

    void backAfterFailedUpdateAllowsASecondAttempt() {
        WizardFixture f;
        f.ToPage2();
        f.device.updateOk = false;
        f.device.duringUpdate = [&] { f.tasks.InsertTaskList(IconFailure, "failed", ""); };
        f.Machine().NextClick();
        QVERIFY(f.session.UpdateAborted);
        QCOMPARE(f.view.rows.size(), size_t(1));

        f.Machine().BackClick();
        QCOMPARE(f.Machine().CurrentStage(), 1);
        QVERIFY(f.view.rows.empty());
        QVERIFY(f.tasks.Rows().empty());
        QVERIFY(!f.view.taskListVisible);
        QVERIFY(f.view.frameVisible);
        QVERIFY(f.view.instructions.startsWith(kPage1Start));
        QVERIFY(f.view.Enabled(WizardButton::Next));
        QVERIFY(!f.view.Enabled(WizardButton::Back));
        QVERIFY(!f.session.UpdateAborted);

        f.device.updateOk = true;
        f.Machine().NextClick();
        f.Machine().NextClick();
        QCOMPARE(f.device.updateCalls, 2);
        f.Machine().CloseClick();
        QCOMPARE(f.Machine().ExitCode(), int(ExitUpdateSucceeded));
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
    void exitStatusFollowsTheLastUpdate() {
        QFETCH(QList<bool>, outcomes);
        QFETCH(int, status);
        WizardFixture f;
        QVERIFY(f.Machine().Load());
        for (bool ok : outcomes) {
            f.device.updateOk = ok;
            f.Machine().NextClick();
            f.Machine().NextClick();
            f.Machine().BackClick();
        }
        bool ended = false;
        f.Machine().OnEnded = [&] { ended = true; };
        f.Machine().CloseClick();
        QVERIFY(ended);
        QCOMPARE(f.Machine().ExitCode(), status);
    }

    void closeRunsTheRecoveryOnlyForAnUnrestoredProfile_data() {
        QTest::addColumn<bool>("restored");
        QTest::newRow("restored") << true;
        QTest::newRow("left unrestored") << false;
    }
    void closeRunsTheRecoveryOnlyForAnUnrestoredProfile() {
        QFETCH(bool, restored);
        WizardFixture f;
        f.ToPage2();
        f.device.duringUpdate = [&] { f.session.wizard.ProfileRestored = restored; };
        f.Machine().NextClick();
        f.Machine().CloseClick();
        QCOMPARE(f.device.recoveries, restored ? 0 : 1);
        QVERIFY(f.Machine().Ended());
        QVERIFY(!f.view.onTop);
        QVERIFY(!f.view.trayShown);
        QVERIFY(f.session.link.LinkStop && f.session.link.LinkError);
        QCOMPARE(f.device.releaseCalls, 1);
        QVERIFY(!f.texts.IsOpen());
    }

    void closeDuringTheUpdateAsksThenLetsItUnwind_data() {
        QTest::addColumn<int>("answer");
        QTest::newRow("yes") << int(IdYes);
        QTest::newRow("no") << int(IdNo);
    }
    void closeDuringTheUpdateAsksThenLetsItUnwind() {
        QFETCH(int, answer);
        WizardFixture f;
        f.ToPage2();
        bool endedInsideUpdate = false;
        bool linkStoppedInsideUpdate = false;
        f.device.duringUpdate = [&] {
            f.session.wizard.ProfileRestored = false;  // the update failed after its backup
            f.view.answers = {answer};
            f.Machine().CloseClick();
            endedInsideUpdate = f.Machine().Ended();
            linkStoppedInsideUpdate = f.session.link.LinkStop;
        };
        f.device.updateOk = false;
        f.Machine().NextClick();
        QCOMPARE(f.view.boxes.size(), size_t(1));
        QCOMPARE(f.view.boxes[0].style, int(MbYesNoWarning));
        QVERIFY(!endedInsideUpdate);
        QCOMPARE(linkStoppedInsideUpdate, answer == IdYes);
        QCOMPARE(f.Machine().Ended(), answer == IdYes);
        if (answer == IdYes) {
            QCOMPARE(f.device.recoveries, 1);
            QCOMPARE(f.Machine().ExitCode(), int(ExitUpdateFailed));
        } else {
            QCOMPARE(f.device.recoveries, 0);
            QVERIFY(f.view.Enabled(WizardButton::Back));
        }
    }

    void clicksAfterTheEndAreIgnored() {
        WizardFixture f;
        QVERIFY(f.Machine().Load());
        f.Machine().CloseClick();
        f.Machine().NextClick();
        f.Machine().CloseClick();
        QCOMPARE(f.device.readIdCalls, 0);
        QCOMPARE(f.device.stopLinkCalls, 1);
    }

    void instructionsForOtherStagesEmptyTheLabel() {
        WizardFixture f;
        f.ToPage2();
        f.Machine().LoadStepInstructions(3);
        QVERIFY(f.view.instructions.isEmpty());
        QVERIFY(f.view.pictureVisible);  // left as it was
        f.Machine().LoadStepInstructions(1);
        QVERIFY(!f.view.pictureVisible);
    }
};

QTEST_GUILESS_MAIN(StageMachineTest)
#include "test_stage_machine.moc"
