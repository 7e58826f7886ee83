// The wizard's stages (start-up, Next, Back, Close, with fakes for the device and the window), its
// instruction pages, the task list and the progress figures; several DCs in one run, and their history.
#include <QCryptographicHash>
#include <QtTest>

#include "fakes/rows.h"
#include "fakes/wired_wizard.h"
#include "fakes/wizard_fixture.h"
#include "support/transfer_rate.h"
#include "wizard/instruction_pages.h"

using RateCases = Rows<int, int, double, QString, QString>;

// resourceFieldsChooseLanguageAndProgram: resource, code (--lang, 0: not given), firmware, column, program.
using ResourceCases = Rows<QString, int, QString, int, QString>;

// simulateFindsTheDemoFirmware: simulate, files (put into the folders app, exe and data first), firmware
// (--firmware), chosen.
using DemoSearchCases = Rows<bool, QStringList, QString, QString>;

// close: during, restored, answer, again (then Back, Next, Next: an update that stops before its backup).
using CloseCases = Rows<bool, bool, BoxAnswer, bool>;

// startupEnds: fault, calls (GetCode, TestInterface, StopLink, ReleaseLink), box (its start, then words in
// it; %1: the file).
using StartupEndCases = Rows<int, QList<int>, QStringList>;

// firmwareFileChosen: files (chosen in turn; then Cancel), given (--firmware names a file that is not there),
// boxes (%1: that file).
using ChoiceCases = Rows<QStringList, bool, QStringList>;

// clicksWhileTheDcIsBusy: step (0 identify, 1 update, 2 recovery at Close), clicks (N Next, B Back, C Close,
// R a failure's ResetStage), stage.
using BusyClickCases = Rows<int, QString, int>;

// failedStepsOnPage1: dcAnswers, deviceId, deepSleepOk, box (empty: none), style.
using PageOneFailureCases = Rows<bool, QString, bool, QString, BoxStyle>;
using LastUpdateCases = Rows<QList<bool>, int>;

// lastUpdatedHere: history (serial outcome date version, oldest first), row (empty: none).
using HistoryRowCases = Rows<QStringList, QString>;

class TestWizard : public QObject {
    Q_OBJECT

private slots:
    void startupShowsPage1WithCaptionsFromTheTextDatabase() {
        WizardFixture f;
        QVERIFY(f.Machine().Load());
        auto& b = f.view.buttons;
        QCOMPARE((QStringList{f.view.frameCaption, f.view.windowCaption, b[WizardButton::Next].caption,
                              b[WizardButton::Back].caption, b[WizardButton::Close].caption} +
                  QStringList(f.view.headers.begin(), f.view.headers.end())),
                 (QStringList{"INSTRUCTIONS", "KAV 1F Firmware Update", "Next", "Back", "Close", "Time",
                              "Event", "Status"}));
        QVERIFY(f.Machine().CurrentStage() == 1 && f.view.instructions == InstructionPageText(1) &&
                !f.view.pictureVisible && f.view.boxes.empty());
        QVERIFY(!b[WizardButton::Print].visible && !f.view.Enabled(WizardButton::Back) &&
                f.view.Enabled(WizardButton::Next));
        QVERIFY(f.view.onTop && f.view.trayShown && f.session.profile.Restored);
        QCOMPARE(f.device.getCodeCalls + f.device.testInterfaceCalls, 2);
    }

    // The resource's fields choose the firmware file, the language and the program run at Close; the command
    // line's language and file win over them.
    void resourceFieldsChooseLanguageAndProgram_data() {
        ResourceCases rows;
        rows.Add("as shipped", "KAV.1F.FWR|KAV 1F||5000", 0, "", 1, "");
        rows.Add("code 6000", "X.FWR|KAV 1F|after.sh|6000", 0, "", 2, "after.sh");
        rows.Add("no language field", "KAV.1F.FWR|x|after.sh", 0, "", 1, "after.sh");
        rows.Add("two fields only", "KAV.1F.FWR|x", 0, "", 1, "");
        rows.Add("options", "KAV.1F.FWR|KAV 1F||5000", 6000, "/elsewhere/other.fwr", 2, "");
    }
    void resourceFieldsChooseLanguageAndProgram() {
        const auto& [resource, code, firmware, column, program] = ResourceCases::Fetch();
        WizardFixture f(resource);
        if (code)
            f.options.LanguageCode = code, f.options.FirmwareFile = firmware;
        QVERIFY(f.Machine().Load());
        QCOMPARE(f.Machine().FirmwareFilePath(),
                 firmware.isEmpty() ? QDir(f.appDir.path()).filePath(resource.section('|', 0, 0)) : firmware);
        QCOMPARE(f.Machine().LanguageColumn(), column);
        // Column 2 is German: the captions must change with it.
        QCOMPARE(f.view.buttons[WizardButton::Next].caption == QStringLiteral("Next"), column == 1);
        f.Machine().CloseClick();
        QCOMPARE(f.Machine().ExitCode(), int(ExitClosedBeforeUpdate));
        QCOMPARE(f.startedPrograms,
                 program.isEmpty() ? QStringList() : QStringList{QDir(f.appDir.path()).filePath(program)});
    }

    // Start-up ends with status 2. A rejected firmware file, and the demo firmware for any DC but the
    // simulated one (see simulateFindsTheDemoFirmware), go through the Close sequence before the cable is
    // looked for.
    void startupEnds_data() {
        StartupEndCases rows;
        rows.Add("no text database", 1, {0, 0, 0, 0},
                 {"The text database FirmwareUpdate.lng could not be opened (0001)."});
        rows.Add("firmware file rejected", 2, {1, 0, 1, 1}, {});
        rows.Add("cable search given up", 3, {1, 1, 0, 0}, {});
        rows.Add("demo firmware, real DC", 4, {1, 0, 1, 1},
                 {"The firmware file %1 is the demo firmware", "--firmware FILE", "--simulate"});
    }
    void startupEnds() {
        const auto& [fault, calls, box] = StartupEndCases::Fetch();
        WizardFixture f;
        if (fault == 1)
            f.options.ExeDir = f.appDir.path();  // nowhere to be found: a box says so
        f.device.codeOk = fault != 2;
        f.device.interfaceOk = fault != 3;
        f.session.firmware.Demo = fault == 4;
        QVERIFY(!f.Machine().Load());
        QVERIFY(f.Machine().Ended());
        QCOMPARE(f.Machine().ExitCode(), int(ExitStartupEnded));
        const auto& d = f.device;
        QCOMPARE((QList<int>{d.getCodeCalls, d.testInterfaceCalls, d.stopLinkCalls, d.releaseCalls}), calls);
        QCOMPARE(f.view.boxes.size(), size_t(!box.isEmpty()));
        if (!box.isEmpty()) {
            const auto& shown = f.view.boxes[0];
            bool holds =
                shown.title == "Firmware Update" && shown.style == kBoxOkCritical &&
                shown.text.startsWith(QString(box[0]).replace("%1", f.appDir.filePath("KAV.1F.FWR")));
            for (const QString& words : box.mid(1))
                holds &= shown.text.contains(words);
            QVERIFY2(holds, qPrintable(shown.title + '|' + shown.text));
        }
        QVERIFY(f.view.instructions.isEmpty() && !f.view.trayShown && !f.texts.IsOpen());
        QCOMPARE(d.recoveries, 0);
    }

    // --simulate without a firmware file runs on the demo firmware, looked for where the text database is,
    // and the simulated DC takes it; the maker's file in the application folder and --firmware win over it.
    // Only without any of them is the user asked to choose a file.
    void simulateFindsTheDemoFirmware_data() {
        DemoSearchCases rows;
        const QString demo = "/KAV.1F.demo.FWR", real = "app/KAV.1F.FWR";
        rows.Add("beside the executable", true, {"exe" + demo, "data" + demo}, "", "exe" + demo);
        rows.Add("in the data folder", true, {"data" + demo}, "", "data" + demo);
        rows.Add("maker's file wins", true, {real, "app" + demo}, "", real);
        rows.Add("--firmware wins", true, {"app" + demo}, "/x/A.FWR", "/x/A.FWR");
        rows.Add("without --simulate: chosen", false, {"app" + demo}, "", "maker/A.FWR");
    }
    void simulateFindsTheDemoFirmware() {
        const auto& [simulate, files, firmware, chosen] = DemoSearchCases::Fetch();
        WizardFixture f;
        const QDir root(f.appDir.path());
        for (const char* folder : {"app", "exe", "data"})
            QVERIFY(root.mkdir(folder));
        QVERIFY(QFile::copy(BuiltTextDatabase(), root.filePath("app/FirmwareUpdate.lng")));
        for (const QString& file : files)
            QVERIFY(QFile(root.filePath(file)).open(QIODevice::WriteOnly));
        f.options.AppDir = root.filePath("app");
        f.options.ExeDir = root.filePath("exe");
        f.options.DataDir = root.filePath("data");
        f.options.FirmwareFile = firmware;
        f.options.FindDemoFirmware = f.options.SimulatedDc = f.session.firmware.Demo = simulate;
        f.view.chosenFiles = {root.filePath("maker/A.FWR")};
        QVERIFY(f.Machine().Load() && f.view.boxes.empty());
        QCOMPARE(f.Machine().FirmwareFilePath(), root.filePath(chosen));
        QCOMPARE(f.view.choices.size(), size_t(chosen.startsWith("maker/")));
    }

    // Without a firmware file in the application folder the user chooses one: checked at once and named in
    // the first rows, or refused with the loader's box and the choice offered again. Cancel ends start-up; a
    // --firmware file is refused without a choice.
    void firmwareFileChosen_data() {
        ChoiceCases rows;
        const QString damaged = "Firmware file error !";
        rows.Add("chosen", {"KAV.FWR"}, false, {});
        rows.Add("damaged, then chosen", {"bad.fwr", "KAV.FWR"}, false, {damaged});
        rows.Add("damaged, then Cancel", {"bad.fwr"}, false, {damaged});
        rows.Add("Cancel", {}, false, {});
        rows.Add("--firmware wins", {"KAV.FWR"}, true, {"The firmware file %1 is missing or hidden."});
    }
    void firmwareFileChosen() {
        const auto& [files, given, boxes] = ChoiceCases::Fetch();
        WiredWizard w(DcConfig{});
        const QDir maker(w.f.appDir.filePath("maker"));
        QVERIFY(maker.mkpath(".") && QFile::rename(w.f.firmwarePath, maker.filePath("KAV.FWR")));
        w.f.PlaceFile("damaged", maker.filePath("bad.fwr"));
        for (const QString& file : files)
            w.f.view.chosenFiles.push_back(maker.filePath(file));
        if (given)
            w.options.FirmwareFile = maker.filePath("gone.FWR");
        w.Start();
        const bool loaded = w.machine->Load();
        QCOMPARE(loaded, !given && files.endsWith("KAV.FWR"));
        QCOMPARE(w.machine->ExitCode(), int(loaded ? ExitClosedBeforeUpdate : ExitStartupEnded));
        QStringList shown;
        for (const auto& box : w.f.view.boxes)
            shown << box.text;
        QCOMPARE(shown, QStringList(boxes).replaceInStrings("%1", maker.filePath("gone.FWR")));
        const auto& choices = w.f.view.choices;
        QCOMPARE(choices.size(), size_t(given ? 0 : files.size() + !loaded));
        if (!given) {
            QCOMPARE(choices[0].choose, "Choose firmware file...");
            QVERIFY(choices[0].text.startsWith("There is no firmware file KAV.1F.FWR in this folder:\r\n" +
                                               w.f.appDir.path()));
        }
        if (!loaded)
            return;
        QCOMPARE(w.machine->FirmwareFilePath(), maker.filePath("KAV.FWR"));
        QStringList rows;
        for (const auto& row : w.f.view.rows)
            rows << QString::number(row.icon) + ' ' + row.event + '|' + row.status;
        QCOMPARE(rows, (QStringList{"0 Reading the firmware file|Done", "0 Checking the firmware file|Done",
                                    "1 KAV 1F, firmware version: 1B.05|",
                                    "1 Firmware file: " + maker.filePath("KAV.FWR") + '|',
                                    "1 Images in the file: 1|"}));
    }

    void failedStepsOnPage1_data() {
        PageOneFailureCases rows;
        rows.Add("no DC: silently back", false, "", true, "", BoxStyle{});
        rows.Add("another model", true, "OTHER V1A 0512KB", true, "This update is only for the KAV 1F!",
                 kBoxOkWarning);
        rows.Add("Deep Sleep fails", true, "KAV1F V1A 0512KB", false,
                 "Could not set DC into Deep Sleep mode. Please replease step 1 to 4 again.", kBoxOkCritical);
    }
    void failedStepsOnPage1() {
        const auto& [dcAnswers, deviceId, deepSleepOk, box, style] = PageOneFailureCases::Fetch();
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
        QCOMPARE(f.device.deepSleepRequests, int(!deepSleepOk));  // asked for only once recognised
        QCOMPARE(f.view.boxes.size(), size_t(box.isEmpty() ? 0 : 1));
        if (!box.isEmpty()) {
            QCOMPARE(f.view.boxes[0].text + '|' + f.view.boxes[0].title, box + "|Firmware Update");
            QCOMPARE(f.view.boxes[0].style, style);
        }
    }

    void exitStatusFollowsTheLastUpdate_data() {
        LastUpdateCases rows;
        // One update of either outcome, or none, is in the runs of the real program.
        rows.Add("failure then success", QList<bool>{false, true}, int(ExitUpdateSucceeded));
        rows.Add("success then failure", QList<bool>{true, false}, int(ExitUpdateFailed));
    }
    // Back after an update clears its rows and allows another attempt.
    void exitStatusFollowsTheLastUpdate() {
        const auto& [outcomes, status] = LastUpdateCases::Fetch();
        WizardFixture f;
        QVERIFY(f.Machine().Load());
        f.device.duringUpdate = [&] { f.tasks.AddRow(IconFailure, "failed", ""); };
        for (bool ok : outcomes) {
            f.device.updateOk = ok;
            f.Machine().NextClick();
            f.Machine().NextClick();
            QVERIFY(f.view.rows.size() == 1);
            f.Machine().BackClick();
            QCOMPARE(f.Machine().CurrentStage(), 1);
            QVERIFY(f.view.rows.empty() && f.tasks.Rows().empty() && !f.view.taskListVisible);
            QVERIFY(f.view.frameVisible && f.view.instructions == InstructionPageText(1) &&
                    !f.view.pictureVisible);
            QVERIFY(f.view.Enabled(WizardButton::Next) && !f.view.Enabled(WizardButton::Back));
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
        CloseCases rows;
        rows.Add("after, restored", false, true, BoxAnswer::None, false);
        rows.Add("after, left unrestored, tried again", false, false, BoxAnswer::None, true);
        rows.Add("during, Yes", true, false, BoxAnswer::Yes, false);
        rows.Add("during, No", true, false, BoxAnswer::No, false);
    }
    void close() {
        const auto& [during, restored, answer, again] = CloseCases::Fetch();
        WizardFixture f;
        f.ToPage2();
        f.session.profile.BackupFilePath = QDir(f.appDir.path()).filePath("513.210417.bin");
        QVERIFY(restored || QFile(f.session.profile.BackupFilePath).open(QIODevice::WriteOnly));
        bool endedInside = false, linkStoppedInside = false;
        f.device.duringUpdate = [&, during = during, restored = restored, answer = answer] {
            f.session.profile.Restored = restored;
            if (during) {
                f.view.answers = {answer};
                f.Machine().CloseClick();
                endedInside = f.Machine().Ended();
                linkStoppedInside = f.device.stopRequested;
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
        QCOMPARE(linkStoppedInside, answer == BoxAnswer::Yes);
        QCOMPARE(f.view.boxes.size(), size_t(during));
        if (during)
            QCOMPARE(f.view.boxes[0].style, kBoxYesNoWarning.WithSecondDefault());
        if (answer == BoxAnswer::No) {
            QVERIFY(!f.Machine().Ended() && f.view.Enabled(WizardButton::Back) && f.device.recoveries == 0);
            return;
        }
        if (!during)
            f.Machine().CloseClick();
        QVERIFY(f.Machine().Ended());
        QCOMPARE(f.device.recoveries, int(!restored));
        QCOMPARE(f.Machine().ExitCode(), int(restored ? ExitUpdateSucceeded : ExitUpdateFailed));
        QVERIFY(!f.view.onTop && !f.view.trayShown && !f.texts.IsOpen());
        QCOMPARE(f.device.stopLinkCalls, 1);
        f.Machine().NextClick();
        f.Machine().CloseClick();
        QCOMPARE(f.device.readIdCalls + f.device.updateCalls, again ? 4 : 2);
        QCOMPARE(f.device.stopLinkCalls + f.device.releaseCalls + f.device.recoveries,
                 2 + (restored ? 0 : 1));
    }

    // Clicks while the DC is busy (identified on page 1, updated, or its profile written back at Close) find
    // Next and Back greyed and change nothing: the step runs once, and Close waits for the exchange to end.
    void clicksWhileTheDcIsBusy_data() {
        BusyClickCases rows;
        rows.Add("page 1: Next again", 0, "N", 2);
        rows.Add("page 1: Back", 0, "B", 2);
        rows.Add("page 1: Close", 0, "C", 1);
        rows.Add("update: a failure, Back, Next", 1, "RBN", 3);
        rows.Add("recovery at Close: every button", 2, "CBNC", 3);
    }
    void clicksWhileTheDcIsBusy() {
        const auto& [step, clicks, stage] = BusyClickCases::Fetch();
        WizardFixture f;
        bool buttonsOff = true, endedInside = false;
        const auto off = [&] {
            buttonsOff &= !f.view.Enabled(WizardButton::Next) && !f.view.Enabled(WizardButton::Back);
        };
        const std::function<void()> click = [&, step = step, clicks = clicks] {
            off();
            if (step == 1)  // as the update starts
                QVERIFY(f.session.profile.ProfileBackupActive && !f.view.frameVisible &&
                        f.view.taskListVisible);
            for (const QChar c : clicks) {
                StageMachine& m = f.Machine();
                c == 'N'   ? m.NextClick()
                : c == 'B' ? m.BackClick()
                : c == 'R' ? m.ResetStage()
                           : m.CloseClick();
            }
            off();
            endedInside = f.Machine().Ended();
        };
        if (step == 0) {
            QVERIFY(f.Machine().Load());
            f.device.duringIdentify = click;
        } else {
            f.ToPage2();
            f.device.duringUpdate = step == 1 ? click : [&] { f.session.profile.Restored = false; };
            f.device.duringRecovery = click;
        }
        f.Machine().NextClick();
        if (step == 2)
            f.Machine().CloseClick();
        QVERIFY(buttonsOff && !endedInside);
        QCOMPARE(f.device.readIdCalls + f.device.updateCalls + f.device.recoveries, 1 + step);
        QCOMPARE(f.device.deepSleepRequests, int(clicks != "C"));
        QCOMPARE(f.Machine().CurrentStage(), stage);
        QCOMPARE(f.Machine().Ended(), clicks.contains('C'));
        QCOMPARE(f.priority.classes, std::vector<int>(clicks.count('R'), PriorityNormal));
        if (!f.Machine().Ended())  // Back once the step is over; Next not after the update
            QVERIFY(f.view.Enabled(WizardButton::Back) && f.view.Enabled(WizardButton::Next) == (step == 0));
    }

    // Put together from numbered pieces and their line breaks: word for word, typos and spacing included; the
    // picture shows on page 2 only.
    void pageTextsExactly() {
        QCOMPARE(
            InstructionPageText(1),
            "1. Plug the USB interface cable into an USB port on the PC.\r\n\r\n2. Dive Computer (DC) "
            "needs to be in the Watch Main Time Mode.\r\n\r\n3. Clip the interface cable on the DC data "
            "port.\r\n\r\n4. A PC will appear with a 120 second countdown (you have 2 minutes to initiate "
            "the connection PC-DC).\r\n   a) If the  PC screen does not appear, unclip the interface cable "
            "from the DC for 5 second then repeat\r\n   steps 2, 3, 4.\r\n\r\n>>> Click on Next button to "
            "continue... >>>");
        QCOMPARE(
            InstructionPageText(2),
            QStringLiteral("\r\n").repeated(10) +
                "5. DC is now in Deep Sleep mode. Do not unclip the interface cable from the DC.\r\n\r\n6. "
                "Activate the DC by depressing and holding both the Advance (A) and Select (S) buttons until "
                "the PC screen appears with a 120 second countdown (about 8 seconds).\r\n   a) If the PC "
                "screen does not appear, unclip the interface cable from the DC for 5 seconds, then clip it "
                "\r\n   back on.\r\n\r\n>>> Click on Next button to continue...>>>");
        QVERIFY(InstructionPagePicture(1) == PictureOnPage::Hidden &&
                InstructionPagePicture(2) == PictureOnPage::Shown);
    }

    // Rows stamped on a 24-hour clock; a status replaces only the newest row's, and not on an empty list.
    void taskRows() {
        RecordingView view;
        VirtualClock clock;
        TaskList tasks(view, clock);
        tasks.SetLastRowStatus("nothing to change");
        for (const QTime wall : {QTime(0, 0, 0), QTime(9, 5, 7), QTime(14, 0, 59), QTime(23, 59, 59)}) {
            clock.SetWallClock(QDateTime(QDate(2026, 7, 23), wall));
            tasks.AddRow(IconStarted + int(wall.hour() > 12), "Reading", "...");
        }
        for (int i = 1; i <= 10; ++i)
            tasks.SetLastRowStatus(QString::number(i * 10) + '%');
        QStringList rows;
        for (std::size_t i = 0; i < view.rows.size(); ++i)
            rows << QString::number(tasks.Rows()[i].icon) + tasks.Rows()[i].Text() + '|' + view.rows[i].time +
                        '|' + view.rows[i].status;
        QCOMPARE(rows,
                 (QStringList{
                     "0\t00:00:00\tReading\t...|00:00:00|...", "0\t09:05:07\tReading\t...|09:05:07|...",
                     "1\t14:00:59\tReading\t...|14:00:59|...", "1\t23:59:59\tReading\t100%|23:59:59|100%"}));
        tasks.Clear();
        QVERIFY(tasks.Rows().empty() && view.rows.empty());

        // The list keeps the percentage; the view also shows the rate, measured from the row's first block.
        tasks.AddRow(IconStarted, "Writing", "");
        tasks.SetLastRowProgress(1, 4);
        QCOMPARE(view.shown, QStringLiteral("25%"));
        clock.Advance(1.0);
        tasks.SetLastRowProgress(2, 4);
        QCOMPARE(tasks.Rows().back().status + '|' + view.rows.back().status + '|' + view.shown,
                 QStringLiteral("50%|50%|50% · 0.1 kB/s · 0:03 left"));
    }

    // 128-byte items: the rate over the time since the start, the time left rounded up.
    void transferRate_data() {
        RateCases rows;
        const auto row = [&rows](const char* tag, int count, int done, double elapsed, const char* shown,
                                 const char* timeLeft = "%1 left") {
            rows.Add(tag, count, done, elapsed, timeLeft, QString::fromUtf8(shown));
        };
        row("nothing through yet", 10, 0, 5.0, "45%");
        row("no time gone", 10, 1, 0.0, "45%");
        row("seconds", 100, 29, 1.0, "45% · 3.7 kB/s · 0:03 left");
        row("minutes", 2048, 1, 128 / 3800.0, "45% · 3.8 kB/s · 1:09 left");
        row("all through", 8, 8, 2.0, "45% · 0.5 kB/s · 0:00 left");
        row("German", 100, 29, 1.0, "45% · 3.7 kB/s · noch 0:03", "noch %1");
    }
    void transferRate() {
        const auto& [count, done, elapsed, timeLeft, shown] = RateCases::Fetch();
        TransferRate rate(10.0, count, 128.0);
        rate.Record(10.0 + elapsed, done);
        QCOMPARE((TransferProgress{9, 20, rate.BytesPerSecond(), rate.SecondsLeft()}.Text(timeLeft)), shown);
    }

    // A drawer of DCs on one cable: each update starts from nothing of the DC before it, and Close names the
    // one backup that still waits, by its file.
    void anotherDcInTheSameRun() {
        WiredWizard w(ProfileDc(256, 287));
        w.options.HistoryFile = w.f.appDir.filePath("history.jsonl");
        w.Start();
        const auto update = [&w] {
            w.machine->NextClick();
            w.machine->NextClick();
            QVERIFY(w.f.view.buttons[WizardButton::Again].visible &&
                    !w.f.view.buttons[WizardButton::Next].visible);
        };
        QVERIFY(w.machine->Load());
        update();
        DcConfig failing = ProfileDc(256, 287, 2, 111111);
        failing.faults.refusals = {{0xB6, DcPhase::Command, 100}};
        const QString waiting = w.f.appDir.filePath("513.111111.bin");
        for (const DcConfig& next : {failing, ProfileDc(256, 287, 3, 222222)}) {
            w.f.sim.SwapDevice(next);
            w.machine->AgainClick();
            const ProfileState& p = w.f.session.profile;
            QVERIFY(p.Restored && !p.ProfileBackupActive && p.BackupFilePath.isEmpty() &&
                    p.DeviceSerialNumber == 0);
            QVERIFY(w.f.tasks.Rows().empty() && w.f.view.buttons[WizardButton::Next].visible);
            QCOMPARE(w.machine->CurrentStage(), 1);
            update();
        }
        QVERIFY(!QFile::exists(w.f.BackupPath()) && !QFile::exists(w.f.appDir.filePath("513.222222.bin")));
        w.f.view.boxes.clear();
        const QString named = w.f.Text(Txt::BackupWaits).arg(waiting);
        w.machine->CloseClick();
        QCOMPARE(w.machine->ExitCode(), int(ExitUpdateSucceeded));
        QCOMPARE(w.f.view.rows.back().event, named);
        QCOMPARE(w.f.view.boxes.size(), std::size_t(1));
        QCOMPARE(w.f.view.boxes[0].text, named);
        QCOMPARE(w.f.view.boxes[0].style, kBoxOkInformation);
        QCOMPARE(FileBytes(waiting),
                 ExpectedBackupFile(DcModel(ProfileDc(256, 287, 2, 111111)).Memory(), 512));
        // One line each, in the order of the attempts.
        QStringList lines;
        for (const UpdateAttempt& a : ReadHistory(w.options.HistoryFile)) {
            lines << QString("%1 %2->%3 %4 %5 %6 %7")
                         .arg(a.serial)
                         .arg(a.versionBefore, a.versionAfter, OutcomeName(a.outcome), a.failedStep,
                              BackupFateName(a.backup),
                              QFileInfo(a.backupFile).fileName().section('.', 0, 1));
            QCOMPARE(a.firmwareSha256,
                     QString(QCryptographicHash::hash(FileBytes(w.f.firmwarePath), QCryptographicHash::Sha256)
                                 .toHex()));
        }
        // A confirmed profile's file goes to the archive under a name with the time: model and serial stay.
        QCOMPARE(lines, QStringList({"210417 1A->1B succeeded  archived 513.210417",
                                     "111111 1A-> failed upload kept for recovery 513.111111",
                                     "222222 1A->1B succeeded  archived 513.222222"}));
    }

    // After the DC's block 0 is read, the history says when it was last updated here: its latest success.
    void lastUpdatedHere_data() {
        HistoryRowCases rows;
        rows.Add("none", QStringList{}, QString());
        rows.Add("latest success of two",
                 QStringList{"210417 0 2025-03-02 1A", "210417 0 2025-04-07 1B", "210417 2 2025-05-01 1A"},
                 "2025-04-07 1B");
        rows.Add("only failed here", QStringList{"210417 2 2025-05-01 1A"}, QString());
        rows.Add("another DC", QStringList{"210418 0 2025-05-01 1B"}, QString());
    }
    void lastUpdatedHere() {
        const auto& [history, row] = HistoryRowCases::Fetch();
        WiredWizard w(ProfileDc(256, 287));
        w.options.HistoryFile = w.f.appDir.filePath("history.jsonl");
        QString why;
        for (const QString& entry : history) {
            const QStringList f = entry.split(' ');
            UpdateAttempt a;
            a.serial = f[0].toLongLong(), a.outcome = UpdateAttempt::Outcome(f[1].toInt());
            a.time = QDateTime(QDate::fromString(f[2], Qt::ISODate), QTime(10, 0));
            a.model = "KAV 1F", a.versionAfter = f[3];
            QVERIFY2(AppendToHistory(w.options.HistoryFile, a, &why), qPrintable(why));
        }
        w.Start();
        QVERIFY(w.machine->Load());
        w.machine->NextClick();
        w.machine->NextClick();
        QStringList said;
        for (const auto& r : w.f.view.rows) {
            if (r.event.startsWith(w.f.Text(Txt::LastUpdatedHere).section('%', 0, 0)))
                said << r.event;
        }
        QCOMPARE(said,
                 row.isEmpty()
                     ? QStringList()
                     : QStringList{
                           w.f.Text(Txt::LastUpdatedHere).arg(row.section(' ', 0, 0), row.section(' ', 1))});
        QCOMPARE(int(ReadHistory(w.options.HistoryFile).size()), history.size() + 1);
    }
};

QTEST_GUILESS_MAIN(TestWizard)
#include "test_wizard.moc"
