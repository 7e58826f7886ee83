// kav-update --cli --simulate as a script would run it: the real program, a real pseudo-terminal, the
// simulated DC behind it, real time.
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "profile/backup_file.h"

namespace {

struct Run {
    explicit Run(const QString& simArgs = {}) {
        Start(KAV_UPDATE_PATH, {"--app-dir", dir.path(), "--firmware", KAV_DEMO_FIRMWARE}, simArgs);
    }
    Run(const QString& program, const QString& simArgs, const QProcessEnvironment& env) {
        process.setProcessEnvironment(env);
        Start(program, {}, simArgs);
    }
    void Start(const QString& program, QStringList args, const QString& simArgs) {
        args << "--cli"
             << "--simulate";
        if (!simArgs.isEmpty())
            args << "--sim-args" << simArgs;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, args);
    }
    // Reads output until it holds the text; false after the time-out.
    bool WaitFor(const QString& text, int seconds) {
        QDeadlineTimer deadline(seconds * 1000);
        while (!output.contains(text)) {
            if (deadline.hasExpired() || process.state() == QProcess::NotRunning)
                return false;
            process.waitForReadyRead(200);
            output += QString::fromUtf8(process.readAll());
        }
        return true;
    }
    void Say(const QByteArray& lines) { process.write(lines); }
    int Finish(int seconds) {
        process.closeWriteChannel();
        if (!process.waitForFinished(seconds * 1000))
            process.kill();
        output += QString::fromUtf8(process.readAll());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    QStringList Backups() const { return QDir(dir.path()).entryList({"*.bin"}, QDir::Files); }

    QTemporaryDir dir;
    QProcess process;
    QString output;
};

const QString kPage2 = "5. DC is now in Deep Sleep mode. Do not unclip the interface cable from the DC.";
const QString kSucceeded = "+ The firmware update has been completed successfully.";
const QString kNotCompleted = "! The firmware update was not completed.";

}  // namespace

class EndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void page1ToPage2() {
        Run run;
        QVERIFY(run.WaitFor(">>> Click on Next button to continue... >>>", 20));
        run.Say("\n");
        QVERIFY2(run.WaitFor(kPage2, 20), qPrintable(run.output));
        run.Say("close\n");
        QCOMPARE(run.Finish(20), 3);
    }

    void fullUpdate() {
        Run run("--restart-seconds 1");
        run.Say("\n\n");
        QVERIFY2(run.WaitFor(kSucceeded, 90), qPrintable(run.output));
        QCOMPARE(run.Finish(20), 0);
        QVERIFY(run.output.contains("> Backup dive computer profile : Done"));
        QVERIFY(run.output.contains("+ The DC reports the new firmware version."));
        QVERIFY(run.output.contains("> Restoring the DC profile : Done"));
        QVERIFY(run.Backups().isEmpty());
    }

    // Power is lost in the middle of the upload (22 frames vanish: the block's address gives up), and the DC
    // is back for the recovery at Close.
    void powerLossThenRecoveryAtClose() {
        Run run("--silence 137:22 --restart-seconds 1");
        run.Say("\n\n");
        QVERIFY2(run.WaitFor(kNotCompleted, 90), qPrintable(run.output));
        QVERIFY(run.output.contains("! Writing to the DC failed."));
        QCOMPARE(run.Backups().size(), 1);
        QCOMPARE(QFileInfo(run.dir.filePath(run.Backups()[0])).size(), kBackupFileSize);
        run.Say("close\n");
        QVERIFY(run.WaitFor("[Profile recovery]", 20));
        run.Say("y\nok\n");
        QVERIFY2(run.WaitFor("> Restoring the DC profile : Done", 60), qPrintable(run.output));
        QCOMPARE(run.Finish(30), 1);
        QVERIFY(run.Backups().isEmpty());
    }

    void usageErrorAndHelp() {
        QProcess p;
        p.start(KAV_UPDATE_PATH, {"--no-such-option"});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 2);
        p.start(KAV_UPDATE_PATH, {"--help"});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(p.readAllStandardOutput().contains("--app-dir"));
    }

    // Installed into a prefix whose bin folder cannot be written: the data comes from ../share/kav-update,
    // the backup goes to the user's own folder, and a later run (the first one crashed) finds it there.
    void installedRunKeepsBackupsInUserFolder() {
        const QString prefix = qEnvironmentVariable("KAV_INSTALL_PREFIX");
        const QString bin = prefix + "/bin", program = bin + "/kav-update";
        QVERIFY2(QFileInfo::exists(program), qPrintable(program));
        const auto permissions = QFile::permissions(bin);
        QVERIFY(QFile::setPermissions(bin, permissions & ~(QFile::WriteOwner | QFile::WriteUser)));
        const auto restore = qScopeGuard([&] { QFile::setPermissions(bin, permissions); });
        QTemporaryDir home;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.insert("XDG_DATA_HOME", home.filePath("data"));
        const QDir backups(home.filePath("data/kav-update"));

        Run crashed(program, "--silence 137:22 --restart-seconds 1", env);
        crashed.Say("\n\n");
        QVERIFY2(crashed.WaitFor(kNotCompleted, 90), qPrintable(crashed.output));
        QCOMPARE(backups.entryList({"*.bin"}).size(), 1);
        crashed.process.kill();
        crashed.process.waitForFinished(10000);

        Run later(program, "--restart-seconds 1", env);
        later.Say("\n\n");
        QVERIFY2(later.WaitFor(kSucceeded, 90), qPrintable(later.output));
        QCOMPARE(later.Finish(20), 0);
        QVERIFY2(!later.output.contains("Backup dive computer profile"), qPrintable(later.output));
        QVERIFY(later.output.contains("> Restoring the DC profile : Done"));
        QVERIFY(backups.entryList({"*.bin"}).isEmpty());
        QCOMPARE(QDir(bin).entryList(QDir::Files).size(), 3);
    }
};

QTEST_GUILESS_MAIN(EndToEndTest)
#include "test_e2e_cli.moc"
