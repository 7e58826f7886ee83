// The Windows installer under Wine (KAV_WINE_SETUP, in the prefix WINEPREFIX): installed silently for the
// user and for all users, the installed program updating the simulated DC as a double-clicked firmware file
// starts it, and an installation over it and the uninstaller leaving the user's files as they were.
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

// A setup or uninstall program to its end: the uninstaller runs from a copy of itself that outlives the
// first.
int RunToEnd(const QStringList& command) {
    WineProgram run(command[0], command.mid(1));
    const int status = run.Finish(300);
    WaitForWine();
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
        QCOMPARE(RunToEnd({qEnvironmentVariable("KAV_WINE_SETUP"), "/S", mode}), 0);
        const QString installed = Expand(programs + "\\" + kProduct);
        const QString folder = UnixPath(installed);
        const QString link =
            UnixPath(startMenu + R"(\Microsoft\Windows\Start Menu\Programs\)" + kProduct + ".lnk");
        QVERIFY2(QFileInfo(folder + "/bin/kav-update.exe").isFile(), qPrintable(folder));
        QVERIFY2(QFileInfo(link).isFile(), qPrintable(link));
        const QString uninstall = hive + kUninstallKey;
        const QStringList shown{RegValue(uninstall, "DisplayName"), RegValue(uninstall, "DisplayVersion"),
                                RegValue(uninstall, "Publisher")};
        QCOMPARE(shown, QStringList({kProduct, KAV_VERSION, "KAV Firmware Update developers"}));
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
        WineProgram run(command[0], command.mid(1) + QStringList{"--cli", "--simulate", "--port", "COM5",
                                                                 "--log", WindowsPath(log)});
        run.Say("\n\n");
        QVERIFY2(run.Finish(180) == 0 &&
                     run.output.contains("+ The firmware update has been completed successfully."),
                 qPrintable(run.output));
        WaitForWine();
        QVERIFY(sim.End());
        const QString userData = UnixPath(R"(%APPDATA%\kav-update)");
        const QString said = QString::fromUtf8(FileBytes(log));
        const QRegularExpression userFolder(R"(backup folder: C:\\users\\\w+\\AppData\\Roaming\\kav-update)");
        QVERIFY2(said.contains(userFolder), qPrintable(said));

        // A backup still waiting for its DC, and the history: an installation over this one and the
        // uninstaller leave them byte for byte.
        QFile pending(userData + "/513.777777.bin");
        QVERIFY(pending.open(QIODevice::WriteOnly) && pending.write(QByteArray(4096, '\x5a')) == 4096);
        pending.close();
        const auto before = Contents(userData);
        QVERIFY2(before.size() >= 2, "the backup and the history");
        QCOMPARE(RunToEnd({qEnvironmentVariable("KAV_WINE_SETUP"), "/S", mode}), 0);
        QVERIFY(QFileInfo(folder + "/bin/kav-update.exe").isFile());
        QVERIFY(Contents(userData) == before);

        QCOMPARE(RunToEnd(QProcess::splitCommand(quiet)), 0);
        QVERIFY(!QFileInfo::exists(folder) && !QFileInfo::exists(link));
        for (const QString& key : {uninstall, hive + kFileType, hive + R"(\Software\Classes\.fwr)"})
            QVERIFY2(Run("wine", {"reg", "query", key}).isEmpty(), qPrintable(key));
        QVERIFY(Contents(userData) == before);
        QVERIFY(QFile::remove(pending.fileName()));
    }
};

QTEST_GUILESS_MAIN(WineInstallerTest)
#include "test_wine_installer.moc"
