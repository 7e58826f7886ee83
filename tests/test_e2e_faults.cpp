// The real program stopped the hard ways, in real time: stopped by Ctrl-C, a failed update's finish and log,
// its output gone.
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "fakes/program_run.h"
#include "fakes/rows.h"
#include "fakes/simulated_dc_process.h"
#include "fakes/update_fixture.h"

namespace {

// The pages; at a terminal their prompt follows, and only what is typed after it counts.
const QString kPage1 = ">>> Click on Next", kPage2 = "Deep Sleep mode\\.", kPrompt = ".*Enter = ";

// kav-update --cli, at a terminal or with plain pipes; what it waits for is a pattern.
struct Program : ProgramRun {
    Program(const QString& dir, const QStringList& link, bool terminal) {
        Start(KAV_UPDATE_PATH, QStringList{"--cli", "--app-dir", dir, "--firmware", KAV_DEMO_FIRMWARE} + link,
              terminal);
    }
    bool WaitFor(const QString& pattern, int seconds) {
        return ProgramRun::WaitFor(
            QRegularExpression(pattern, QRegularExpression::DotMatchesEverythingOption), seconds);
    }
};

QStringList Backups(const QString& dir) {
    return QDir(dir).entryList({"*.bin"}, QDir::Files);
}

}  // namespace

// ctrlC: steps (what to wait for, then what to type), exit, backups.
using CtrlCCases = Rows<QStringList, int, int>;

class FaultsTest : public QObject {
    Q_OBJECT

private slots:
    // Ctrl-C at a terminal: Close before an update; during one, a Close that unwinds it and offers the
    // recovery; a second one ends the program at once and leaves the backup for a later run.
    void ctrlC_data() {
        CtrlCCases rows;
        const QStringList upload{kPage1 + kPrompt,           "\n",  kPage2 + kPrompt, "\n",
                                 "Writing the new firmware", "\x03"};
        rows.Add("on page 1: Close", {kPage1 + kPrompt, "\x03"}, 3, 0);
        rows.Add("twice in the upload: ended at once", upload + QStringList{": Error", "\x03"}, 130, 1);
    }
    void ctrlC() {
        const auto& [steps, exit, backups] = CtrlCCases::Fetch();
        QTemporaryDir dir;
        Program run(dir.path(), {"--simulate", "--sim-args", "--restart-seconds 1 --profile 256:700"}, true);
        for (int i = 0; i < steps.size(); i += 2) {
            QVERIFY2(run.WaitFor(steps[i], 60), qPrintable(run.output));
            run.process.write(steps[i + 1].toUtf8());
        }
        QCOMPARE(run.Finish(60), exit);
        QCOMPARE(Backups(dir.path()).size(), backups);
    }

    // A failed update (its upload's closing command refused) ends like every road, with the clock and then
    // leaving Deep Sleep; its log holds the wire, and the recovery at Close puts the profile back byte for
    // byte. The log alone runs it again elsewhere, the firmware file moved: the same frames, rows and exit
    // status (the golden traces replay the other roads').
    void finishOnAFailedRoadAndItsLogReplayed() {
        QTemporaryDir dir;
        SimulatedDc sim(dir.filePath("dc"), {"--profile", "256:700", "--refuse", "B6:5"});
        QVERIFY(!sim.port.isEmpty());
        const QString log = dir.filePath("run.log");
        Program run(dir.path(), sim.port + QStringList{"--log", log}, false);
        run.process.write("\n\n\ny\n\n");  // page 1, page 2, Close; the recovery: Yes, OK
        QCOMPARE(run.Finish(120), 1);
        QVERIFY2(Backups(dir.path()).isEmpty(), qPrintable(run.output));
        // The failed update names its log, which tells the recovery's answer and the end.
        QVERIFY(run.output.contains("+ The log of this run: " + log));
        const QString told = QString::fromUtf8(FileBytes(log));
        QVERIFY(told.contains("] The profile of the DC has not been written back yet.") &&
                told.contains("answer: Yes") && told.endsWith("exit status 1\n"));
        // Without --trace the wire of the failed update is there all the same, from page 1 on.
        QVERIFY(
            told.startsWith("kav-update run log, format 1\n") &&
            told.contains(QRegularExpression(R"(^\+[\d.]+ wire \(the update did not succeed\): \d+ lines\n)"
                                             R"(\+[\d.]+ > 84 00\n\+[\d.]+ < 5A)",
                                             QRegularExpression::MultilineOption)));
        QCOMPARE(Finishes(sim.Heard()), 2);  // the update's, then the recovery's
        QVERIFY(sim.End());
        const auto original = DcModel(ProfileDc(256, 700)).Memory();
        QVERIFY(ProfileIntact(FileBytes(dir.filePath("dc")), original, 256, 703));

        const QString moved = dir.filePath("elsewhere.fwr");
        QVERIFY(QFile::copy(KAV_DEMO_FIRMWARE, moved));
        ProgramRun replay;
        replay.Start(KAV_UPDATE_PATH, {"--replay", log, "--firmware", moved});
        QVERIFY2(replay.Finish(120) == 0 && replay.output.contains("the replay is the log's run"),
                 qPrintable(replay.output));
        // A row the diver saw otherwise is a difference, an information row as much as a failure.
        const QByteArray shown =
            FileBytes(log).replace("+ KAV 1F, firmware version: 1B.05", "+ KAV 1F, firmware version: 1B.04");
        QFile tampered(log);
        QVERIFY(tampered.open(QIODevice::WriteOnly) && tampered.write(shown) == shown.size());
        tampered.close();
        ProgramRun differs;
        differs.Start(KAV_UPDATE_PATH, {"--replay", log, "--firmware", moved});
        QVERIFY2(differs.Finish(120) == 1 &&
                     differs.output.contains("the log's \"+ KAV 1F, firmware version: 1B.04\""),
                 qPrintable(differs.output));
    }

    // The reader of the output goes away (`| head`): the program carries on without printing.
    void outputClosed() {
        QTemporaryDir dir;
        QProcess run;
        run.start("bash",
                  {"-c",
                   "printf '\\nclose\\n' | \"$0\" --cli --simulate --app-dir \"$1\" --firmware \"$2\" "
                   "| true; exit ${PIPESTATUS[1]}",
                   KAV_UPDATE_PATH, dir.path(), KAV_DEMO_FIRMWARE});
        QVERIFY(run.waitForFinished(30000));
        QCOMPARE(run.exitCode(), 3);  // not 141, killed by SIGPIPE
    }
};

QTEST_GUILESS_MAIN(FaultsTest)
#include "test_e2e_faults.moc"
