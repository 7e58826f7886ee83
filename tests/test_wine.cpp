// The Windows program (kav-update.exe, as its zip unpacks) under Wine, against the simulated DC: Wine maps a
// COM port to the simulated DC's pseudo-terminal through a link in the prefix's dosdevices folder.
// KAV_WINE_PROGRAM names the program and WINEPREFIX a prefix made for the run (scripts/test-windows.sh).
#include <QTemporaryDir>
#include <QtTest>

#include "fakes/rows.h"
#include "fakes/simulated_dc_process.h"
#include "fakes/update_fixture.h"
#include "fakes/wine.h"

// updateOnComPort: dc, answers, exit, finishes (the update's, then the recovery's), rows.
using ComPortCases = Rows<QStringList, QByteArray, int, int, QStringList>;

// cableFoundInRegistry: the device SerialComm lists on the cable's port (empty: none), whether the cable is
// there (its Control key), exit, says.
using WineRegistryCases = Rows<QString, bool, int, QString>;

class WineTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(QFileInfo(qEnvironmentVariable("KAV_WINE_PROGRAM")).isFile(), "KAV_WINE_PROGRAM");
        QVERIFY2(QFileInfo(qEnvironmentVariable("WINEPREFIX") + "/dosdevices").isDir(), "WINEPREFIX");
    }

    // A whole update, then one whose upload is refused at its end: the recovery at Close puts the profile
    // back. Either way the DC ends with the clock record and out of Deep Sleep, its profile byte for byte as
    // it was, and no backup file stays.
    void updateOnComPort_data() {
        ComPortCases rows;
        rows.Add(
            "whole update", {}, QByteArray("\n\n"), 0, 1,
            {"> Backup dive computer profile : Done", "> Writing the new firmware : Done",
             "> Waiting for the DC to restart : Done", "+ The DC reports the new firmware version.",
             "> Restoring the DC profile : Done", "+ The firmware update has been completed successfully."});
        rows.Add("upload refused, recovered", {"--refuse", "B6:5"}, QByteArray("\n\n\ny\n\n"), 1, 2,
                 {"> Backup dive computer profile : Done", "> Writing the new firmware : Error",
                  "! The firmware update was not completed.",
                  "[Profile recovery] The profile of the DC has not been written back yet."});
    }
    void updateOnComPort() {
        const auto& [dc, answers, exit, finishes, rows] = ComPortCases::Fetch();
        QTemporaryDir dir;
        SimulatedDc sim(dir.filePath("dc"), QStringList{"--profile", "256:700"} + dc);
        QVERIFY(sim.port.size() == 2 && LinkComPort(5, sim.port[1]));
        const QString log = dir.filePath("run.log");
        WineProgram run({"--cli", "--simulate", "--port", "COM5", "--app-dir", WindowsPath(dir.path()),
                         "--firmware", WindowsPath(KAV_DEMO_FIRMWARE), "--log", WindowsPath(log)});
        run.process.write(answers);
        QCOMPARE(run.Finish(180), exit);
        WaitForWine();
        qsizetype from = 0;
        for (const QString& row : rows) {  // in this order
            from = run.output.indexOf(row, from);
            QVERIFY2(from >= 0, qPrintable(row + "\n" + run.output));
        }
        QVERIFY2(QDir(dir.path()).entryList({"*.bin"}, QDir::Files).isEmpty(), qPrintable(run.output));
        QVERIFY(QString::fromUtf8(FileBytes(log)).contains("port: COM5, named by --port"));
        QCOMPARE(Finishes(sim.Heard()), finishes);
        QVERIFY(sim.End());
        const auto original = DcModel(ProfileDc(256, 700)).Memory();
        QVERIFY(ProfileIntact(FileBytes(dir.filePath("dc")), original, 256, 703));
    }

    // A second kav-update on the cable in use is refused and told who holds it; Wine, unlike Windows, would
    // let both open the port.
    void secondProgramOnTheCable() {
        QTemporaryDir dir;
        SimulatedDc sim(dir.filePath("dc"), {"--profile", "256:700", "--throttle"});
        QVERIFY(sim.port.size() == 2 && LinkComPort(5, sim.port[1]));
        WineProgram first({"--cli", "--simulate", "--port", "COM5", "--app-dir", WindowsPath(dir.path()),
                           "--firmware", WindowsPath(KAV_DEMO_FIRMWARE)});
        first.process.write("\n\n");
        first.WaitFor("> Writing the new firmware", 60);
        WineProgram second({"--identify", "--port", "com5", "--firmware", WindowsPath(KAV_DEMO_FIRMWARE)});
        QCOMPARE(second.Finish(60), 1);
        QVERIFY2(second.output.contains("The cable's port com5 is already in use by kav-update (process "),
                 qPrintable(second.output));
        QCOMPARE(first.Finish(180), 0);
        WaitForWine();
        QVERIFY(sim.End());
    }

    // Ctrl-C at a console's prompt, at the end of a failed update, is Close as at a Unix terminal: the
    // recovery is offered, and writes the profile back. The console is wineconsole's window (a program with
    // pipes has none), its keys sent by xdotool; the run log tells the answers.
    void ctrlCAtAConsolePrompt() {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("no X display");
        QTemporaryDir dir;
        SimulatedDc sim(dir.filePath("dc"), {"--profile", "256:700", "--refuse", "B6:5"});
        QVERIFY(sim.port.size() == 2 && LinkComPort(5, sim.port[1]));
        const QString log = dir.filePath("run.log");
        QProcess console;
        console.start("wineconsole",
                      {WindowsPath(qEnvironmentVariable("KAV_WINE_PROGRAM")), "--cli", "--simulate", "--port",
                       "COM5", "--app-dir", WindowsPath(dir.path()), "--firmware",
                       WindowsPath(KAV_DEMO_FIRMWARE), "--log", WindowsPath(log)});
        const QString window = WaitForWindow("kav-update", 60);
        QVERIFY(!window.isEmpty());
        // Page 1, page 2 (the update, refused at its end), Ctrl-C, the recovery's Yes and its instructions'
        // OK; each once its prompt is up, which drops what came before.
        for (const QString keys : {"Return", "Return", "ctrl+c", "y Return", "Return"}) {
            if (keys == "ctrl+c")
                QTRY_VERIFY_WITH_TIMEOUT(Finishes(sim.Heard()) == 1, 120000);
            QTest::qWait(2000);
            Run("xdotool",
                QStringList{"key", "--window", window} + keys.split(' '));  // X warnings stay out of the log
        }
        QTRY_VERIFY_WITH_TIMEOUT(Finishes(sim.Heard()) == 2, 60000);  // within Qt Test's 5 minutes
        QVERIFY(console.waitForFinished(30000));
        WaitForWine();
        const QString told = QString::fromUtf8(FileBytes(log));
        QVERIFY2(told.contains("answer: Yes") && told.endsWith("exit status 1\n"), qPrintable(told));
        QVERIFY(sim.End());
    }

    // Input from NUL, a character device as a console is, is no console: nothing is asked.
    void inputFromNul() {
        QTemporaryDir dir;
        WineProgram run({"--cli", "--simulate", "--port", "COM9", "--app-dir", WindowsPath(dir.path()),
                         "--firmware", WindowsPath(KAV_DEMO_FIRMWARE)},
                        true);
        QCOMPARE(run.Finish(60), 2);  // the cable's box, unanswered
        QVERIFY2(run.output.contains("COM9") && !run.output.contains("Enter = "), qPrintable(run.output));
    }

    // No --port: the cable is found in the registry by its USB ids, as its driver records it, and only while
    // its port is present.
    void cableFoundInRegistry_data() {
        WineRegistryCases rows;
        const QString notFound = "The USB interface cable was not found";
        rows.Add("plugged in", R"(\Device\VCP3)", true, 0,
                 "port: COM7, found by searching for the interface cable");
        rows.Add("seen once, unplugged since", "", false, 1, notFound);
        rows.Add("unplugged, its COM number another's", R"(\Device\VCP0)", false, 1, notFound);
    }
    void cableFoundInRegistry() {
        const auto& [onPort, present, exit, says] = WineRegistryCases::Fetch();
        QTemporaryDir dir;
        SimulatedDc sim(dir.filePath("dc"), {"--serial", "123456"});
        QVERIFY(sim.port.size() == 2 && LinkComPort(7, sim.port[1]));
        const QString instance =
            R"(HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS\VID_0403+PID_F460+KAV00042A\0000)";
        const QString device = instance + R"(\Device Parameters)";
        const QString serialComm = R"(HKLM\HARDWARE\DEVICEMAP\SERIALCOMM)";
        QCOMPARE(Reg({"add", device, "/v", "PortName", "/t", "REG_SZ", "/d", "COM7"}), 0);
        QCOMPARE(Reg({"add", device, "/v", "LatencyTimer", "/t", "REG_DWORD", "/d", "16"}), 0);
        if (present)
            QCOMPARE(Reg({"add", instance + R"(\Control)", "/v", "ActiveService", "/d", "FTSER2K"}), 0);
        if (!onPort.isEmpty())
            QCOMPARE(Reg({"add", serialComm, "/v", onPort, "/t", "REG_SZ", "/d", "COM7"}), 0);

        WineProgram list({"--list-ports"});
        const int listed = list.Finish(60);
        WineProgram identify({"--identify", "--app-dir", WindowsPath(dir.path()), "--firmware",
                              WindowsPath(KAV_DEMO_FIRMWARE)});
        QCOMPARE(identify.Finish(60), exit);

        Reg({"delete", R"(HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS)"});
        if (!onPort.isEmpty())
            Reg({"delete", serialComm, "/v", onPort});
        WaitForWine();
        QVERIFY(sim.End());
        QVERIFY2(identify.output.contains(says), qPrintable(identify.output));
        if (present) {
            QVERIFY2(identify.output.contains("serial number: 123456"), qPrintable(identify.output));
            // The driver's default timer, with the way to shorten it.
            QVERIFY2(
                identify.output.contains("Serial port COM7: latency timer 16 ms; each reply waits up to 16 "
                                         "ms. To fix it, open Device Manager"),
                qPrintable(identify.output));
            QCOMPARE(listed, 0);
            QVERIFY2(list.output.contains(QRegularExpression("^COM7\t.*0403:f460\tKAV00042\tusable$",
                                                             QRegularExpression::MultilineOption)),
                     qPrintable(list.output));
        } else {
            QCOMPARE(listed, 1);
        }
    }

    // The window under Xvfb: page 1, Next twice, the update to its end, Close. KAV_SCREENSHOTS names the
    // folder its pictures go to.
    void windowThroughAnUpdate() {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("no X display");
        QTemporaryDir dir;
        SimulatedDc sim(dir.filePath("dc"), {"--profile", "256:700"});
        QVERIFY(sim.port.size() == 2 && LinkComPort(5, sim.port[1]));
        WineProgram run({"--simulate", "--port", "COM5", "--app-dir", WindowsPath(dir.path())});
        const QString window = WaitForWindow("^KAV 1F Firmware Update$", 60);
        QVERIFY2(!window.isEmpty(), qPrintable(run.output));
        QTest::qWait(2000);  // drawn
        const QDir pictures(qEnvironmentVariable("KAV_SCREENSHOTS", dir.path()));
        QVERIFY(Screenshot(window, pictures.filePath("windows-page1.png")));
        // The buttons' places in the fixed-size window: Next, then Close.
        Click(window, 448, 436);
        QTest::qWait(1500);
        Click(window, 448, 436);
        const auto finished = [&] { return Finishes(sim.Heard()) == 1; };
        QTRY_VERIFY_WITH_TIMEOUT(finished(), 120000);
        QTest::qWait(3000);  // the last row and the buttons drawn
        QVERIFY(Screenshot(window, pictures.filePath("windows-finished.png")));
        Click(window, 624, 436);
        QCOMPARE(run.Finish(60), 0);
        WaitForWine();
        QVERIFY2(QDir(dir.path()).entryList({"*.bin"}, QDir::Files).isEmpty(), qPrintable(run.output));
        QVERIFY(sim.End());
        QVERIFY(
            ProfileIntact(FileBytes(dir.filePath("dc")), DcModel(ProfileDc(256, 700)).Memory(), 256, 703));
    }
};

QTEST_GUILESS_MAIN(WineTest)
#include "test_wine.moc"
