// The Windows installer under Wine: installed silently, for the user and for all users; the installed program
// updates the simulated DC when started as a double-clicked firmware file is (the registry's open command);
// an installation over it and the uninstaller leave the user's files as they were. KAV_WINE_SETUP names the
// setup program, WINEPREFIX a prefix made for the run (scripts/test-windows.sh).
#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest>
#include <map>

#include "fakes/rows.h"
#include "fakes/simulated_dc_process.h"
#include "fakes/update_fixture.h"
#include "fakes/wine.h"

namespace {

const QString kProduct = "KAV Firmware Update";
const QString kUninstallKey = R"(\Software\Microsoft\Windows\CurrentVersion\Uninstall\KAV Firmware Update)";
const QString kFileType = R"(\Software\Classes\KAV.FirmwareFile)";

int Setup(const QStringList& args) {
    WineProgram setup(qEnvironmentVariable("KAV_WINE_SETUP"), args);
    const int status = setup.Finish(300);
    WaitForWine();  // the uninstaller runs from a copy of itself that outlives the first
    return status;
}

// Every file under a folder, by name, with its bytes.
std::map<QString, QByteArray> Contents(const QString& dir) {
    std::map<QString, QByteArray> files;
    for (QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        files[QDir(dir).relativeFilePath(path)] = FileBytes(path);
    }
    return files;
}

}  // namespace

// installUpdateUninstall: setup's option, the program folder, the Start menu folder, the registry hive.
using ModeCases = Rows<QString, QString, QString, QString>;

class WineInstallerTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(QFileInfo(qEnvironmentVariable("KAV_WINE_SETUP")).isFile(), "KAV_WINE_SETUP");
        QVERIFY2(QFileInfo(qEnvironmentVariable("WINEPREFIX") + "/dosdevices").isDir(), "WINEPREFIX");
    }

    void installUpdateUninstall_data() {
        ModeCases rows;
        rows.Add("for the user", "/CurrentUser", R"(%LOCALAPPDATA%\Programs)", "%APPDATA%", "HKCU");
        rows.Add("for all users", "/AllUsers", "%ProgramW6432%", "%ProgramData%", "HKLM");
    }
    void installUpdateUninstall() {
        const auto& [mode, programs, startMenu, hive] = ModeCases::Fetch();
        QCOMPARE(Setup({"/S", mode}), 0);
        const QString installed = Expand(programs + "\\" + kProduct);
        const QString folder = UnixPath(installed);
        const QString link =
            UnixPath(startMenu + R"(\Microsoft\Windows\Start Menu\Programs\)" + kProduct + ".lnk");
        QVERIFY2(QFileInfo(folder + "/bin/kav-update.exe").isFile(), qPrintable(folder));
        QVERIFY2(QFileInfo(folder + "/share/kav-update/FirmwareUpdate.lng").isFile(), qPrintable(folder));
        QVERIFY2(QFileInfo(link).isFile(), qPrintable(link));
        const QString uninstall = hive + kUninstallKey;
        QCOMPARE(RegValue(uninstall, "DisplayName"), kProduct);
        QCOMPARE(RegValue(uninstall, "DisplayVersion"), QString(KAV_VERSION));
        QCOMPARE(RegValue(uninstall, "Publisher"), QString("KAV Firmware Update developers"));
        QVERIFY(RegValue(uninstall, "DisplayIcon").endsWith(R"(\bin\kav-update.exe",0)"));
        QVERIFY(RegValue(uninstall, "EstimatedSize").toUInt(nullptr, 16) > 10000);  // KB
        const QString quiet = RegValue(uninstall, "QuietUninstallString");
        QVERIFY2(quiet.endsWith(R"(\uninstall.exe" /S)"), qPrintable(quiet));
        QCOMPARE(RegValue(hive + R"(\Software\Classes\.fwr)", ""), QString("KAV.FirmwareFile"));
        QCOMPARE(RegValue(hive + kFileType, ""), QString("KAV firmware file"));

        // What a double click runs, with the firmware file it names: the installed program finds its texts,
        // keeps the backup in the user's folder, not its own, and updates the DC.
        const QString open = RegValue(hive + kFileType + R"(\shell\open\command)", "");
        QStringList command = QProcess::splitCommand(open);
        QVERIFY2(command.size() == 3 && command[1] == "--firmware" && command[2] == "%1", qPrintable(open));
        command[2] = installed + R"(\share\kav-update\KAV.1F.demo.FWR)";
        QTemporaryDir dir;
        SimulatedDc sim(dir.filePath("dc"), {"--profile", "256:700", "--serial", "424242"});
        QVERIFY(sim.port.size() == 2 && LinkComPort(5, sim.port[1]));
        const QString log = dir.filePath("run.log");
        const QString program = command.takeFirst();
        WineProgram run(program, command + QStringList{"--cli", "--simulate", "--port", "COM5", "--log",
                                                       WindowsPath(log)});
        run.Say("\n\n");
        QVERIFY2(run.Finish(180) == 0 &&
                     run.output.contains("+ The firmware update has been completed successfully."),
                 qPrintable(run.output));
        WaitForWine();
        QVERIFY(sim.End());
        const QString userData = UnixPath(R"(%APPDATA%\kav-update)");
        const QString said = QString::fromUtf8(FileBytes(log));
        QVERIFY2(
            said.contains(R"(backup folder: C:\users\)") && said.contains(R"(\AppData\Roaming\kav-update)"),
            qPrintable(said));

        // A backup still waiting for its DC, and the history: an installation over this one and the
        // uninstaller leave them byte for byte.
        QFile pending(userData + "/513.777777.bin");
        QVERIFY(pending.open(QIODevice::WriteOnly) && pending.write(QByteArray(4096, '\x5a')) == 4096);
        pending.close();
        const auto before = Contents(userData);
        QVERIFY2(before.size() >= 2, "the backup and the history");
        QCOMPARE(Setup({"/S", mode}), 0);
        QVERIFY(QFileInfo(folder + "/bin/kav-update.exe").isFile());
        QVERIFY(Contents(userData) == before);

        const QStringList uninstaller = QProcess::splitCommand(quiet);
        WineProgram removal(uninstaller[0], uninstaller.mid(1));
        QCOMPARE(removal.Finish(120), 0);
        WaitForWine();
        QVERIFY2(!QFileInfo::exists(folder), qPrintable(folder));
        QVERIFY(!QFileInfo::exists(link));
        for (const QString& key : {uninstall, hive + kFileType, hive + R"(\Software\Classes\.fwr)"})
            QVERIFY2(Run("wine", {"reg", "query", key}).isEmpty(), qPrintable(key));
        QVERIFY(Contents(userData) == before);
        QVERIFY(QFile::remove(pending.fileName()));
    }

    // The pages a person clicks through under Xvfb: the installer's first and last, and the uninstaller's
    // last, which says where the user's files stay. KAV_SCREENSHOTS names the folder the pictures go to.
    void pagesAPersonSees() {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("no X display");
        const QDir pictures(qEnvironmentVariable("KAV_SCREENSHOTS", QDir::tempPath()));
        // Next, Install, Finish and Uninstall share the place of the default button.
        const auto picture = [&](const QString& window, const QString& name) {
            QTest::qWait(2000);  // drawn
            return Screenshot(window, pictures.filePath(name));
        };
        WineProgram setup(qEnvironmentVariable("KAV_WINE_SETUP"), {"/CurrentUser"});
        QString window = WaitForWindow("^KAV Firmware Update .* Setup$", 60);
        QVERIFY(!window.isEmpty() && picture(window, "windows-installer-first.png"));
        Click(window, 420, 338);
        QTest::qWait(1500);
        Click(window, 420, 338);
        const QString installed = UnixPath(R"(%LOCALAPPDATA%\Programs\KAV Firmware Update\uninstall.exe)");
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(installed).isFile(), 120000);
        QVERIFY(picture(window, "windows-installer-last.png"));
        Click(window, 420, 338);
        QCOMPARE(setup.Finish(60), 0);
        WaitForWine();

        WineProgram removal(Expand(R"(%LOCALAPPDATA%\Programs\KAV Firmware Update\uninstall.exe)"), {});
        window = WaitForWindow("^KAV Firmware Update .* Uninstall", 60);
        QVERIFY(!window.isEmpty());
        QTest::qWait(1500);
        Click(window, 420, 338);
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(installed), 120000);
        QVERIFY(picture(window, "windows-uninstaller-last.png"));
        Click(window, 420, 338);
        WaitForWine();
        QVERIFY(!QFileInfo::exists(QFileInfo(installed).path()));
    }
};

QTEST_GUILESS_MAIN(WineInstallerTest)
#include "test_wine_installer.moc"
