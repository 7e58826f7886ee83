// A failed update in the window, clicked as a diver clicks it: its log, taken to another folder, runs again
// in the terminal to the same frames, rows and exit status.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

#include "app/window_wiring.h"
#include "fakes/simulated_dc_process.h"

class WindowLogTest : public QObject {
    Q_OBJECT

private slots:
    void failedUpdateReplays() {
        QTemporaryDir dir;
        QVERIFY(QFile::copy(qEnvironmentVariable("KAV_TEST_LNG"), dir.filePath(kTextDatabaseName)));
        SimulatedDc sim(dir.filePath("dc"), {"--profile", "256:300", "--refuse", "B6:5"});
        QVERIFY(!sim.port.isEmpty());
        CommandLine cl;
        cl.Port = sim.port.last();
        cl.AppDir = dir.path();
        cl.Firmware = KAV_DEMO_FIRMWARE;
        const QString logPath = dir.filePath("window.log");
        SystemClock clock;
        RunLog log(clock);
        QVERIFY(log.Open(logPath, nullptr));
        WizardWindow window;
        WizardAssembly wizard(window, cl, log);
        WireWindow(window, wizard);
        QVERIFY(wizard.Load());
        window.show();
        // Every box takes its default button, as an Enter would: the recovery's Yes, its instructions' OK.
        QTimer boxes;
        QObject::connect(&boxes, &QTimer::timeout, [] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                box->defaultButton()->click();
        });
        boxes.start(50);
        for (const char* button : {"NextButton", "NextButton", "CloseButton"})
            window.findChild<QPushButton*>(button)->click();  // returns when the wizard waits again
        QVERIFY(wizard.machine.Ended());
        QCOMPARE(wizard.Finish(wizard.machine.ExitCode()), 1);
        QVERIFY(sim.End());

        const QString elsewhere = dir.filePath("support");
        QVERIFY(QDir().mkpath(elsewhere) && QFile::copy(logPath, elsewhere + "/window.log"));
        QProcess replay;
        replay.setProcessChannelMode(QProcess::MergedChannels);
        replay.start(KAV_UPDATE_PATH, {"--replay", elsewhere + "/window.log"});
        QVERIFY(replay.waitForFinished(120000));
        const QString told = QString::fromUtf8(replay.readAll());
        QVERIFY2(replay.exitCode() == 0 && told.contains("the replay is the log's run") &&
                     told.contains("> Restoring the DC profile : Done"),
                 qPrintable(told));
    }
};

QTEST_MAIN(WindowLogTest)
#include "test_window_log.moc"
