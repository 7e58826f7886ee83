// kav-update --cli --simulate as a script would run it: the real program, a real pseudo-terminal, the
// simulated DC behind it, real time.
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "fakes/program_run.h"
#include "fakes/rows.h"
#include "fakes/update_fixture.h"
#include "profile/backup_file.h"
#include "run/update_history.h"

namespace {

struct Run : ProgramRun {
    Run() {  // the user's folders, the log folder among them, go in here
        env.insert("XDG_DATA_HOME", dir.path());
        env.insert("XDG_STATE_HOME", dir.path());
    }
    // kav-update --cli --simulate on the demo firmware, its application folder the run's own.
    void Sim(const QString& simArgs, const QStringList& more = {}, bool terminal = false) {
        Start(KAV_UPDATE_PATH, QStringList{"--app-dir", dir.path(), "--firmware", KAV_DEMO_FIRMWARE} + more,
              simArgs, terminal);
    }
    // simArgs: the simulated DC's, after --cli --simulate; null for neither.
    void Start(const QString& program, QStringList args, const QString& simArgs, bool terminal = false) {
        if (!simArgs.isNull())
            args += QStringList{"--cli", "--simulate", "--sim-args", simArgs};
        process.setProcessEnvironment(env);
        ProgramRun::Start(program, args, terminal);
    }
    QStringList Backups() const { return QDir(dir.path()).entryList({"*.bin"}, QDir::Files); }

    QTemporaryDir dir;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
};

const QString kPage2 = "5. DC is now in Deep Sleep mode. Do not unclip the interface cable from the DC.";
const QString kSucceeded = "+ The firmware update has been completed successfully.";
const QString kNotCompleted = "! The firmware update was not completed.";

// The commands the simulated DC heard, in order, from its wire log ("I <time> <length> <command>" per frame).
QStringList CommandsHeard(const QString& wireLog) {
    QFile log(wireLog);
    QStringList heard;
    if (log.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : log.readAll().split('\n'))
            if (line.startsWith("I "))
                heard << QString::fromLatin1(line.split(' ').value(3));
    }
    return heard;
}

// An interrupted update's backup of this DC (a profile from unit 256 to 512), where the program looks for it.
QString PlaceBackup(const QString& folder, int serial) {
    const QString path = BackupFileName(folder, 513, serial);  // 513: the demo firmware's model
    const QByteArray bytes = ExpectedBackupFile(DcModel(ProfileDc(256, 512, 1, serial)).Memory(), 512);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() ? path : QString();
}

}  // namespace

using HabitCases = Rows<QString, QStringList, int, QString, QString>;
using UsageCases = Rows<QStringList, int, QString>;

// serviceStation: refusingDc (a separate simulator's options; empty: none), status.
using StationCases = Rows<QStringList, int>;

// history: args, serials (in the order printed).
using HistoryCases = Rows<QStringList, QStringList>;

class EndToEndTest : public QObject {
    Q_OBJECT

private slots:

    // An Enter pressed during the upload is discarded: it does not close the wizard after the update.
    void enterDuringTheUploadAnswersNothing() {
        Run run;
        run.Sim("--restart-seconds 1", {}, true);
        const auto prompt = [&](const QString& after) {  // what is typed earlier counts as typed ahead
            return run.WaitFor(after, 90) && run.WaitFor("Enter = ", 20);
        };
        QVERIFY(prompt(">>> Click on Next"));
        run.Say("\n");
        QVERIFY2(prompt(kPage2), qPrintable(run.output));
        run.Say("\n");
        QVERIFY2(run.WaitFor("Writing the new firmware", 60), qPrintable(run.output));
        run.Say("\n");
        QVERIFY2(prompt(kSucceeded), qPrintable(run.output));
        run.Say("back\n");
        QVERIFY2(prompt(">>> Click on Next"), qPrintable(run.output));
        run.Say("close\n");
        QCOMPARE(run.Finish(20), 0);
    }

    // Runs that end at once, with what they say (on either stream) and their exit status.
    void usageErrorAndHelp_data() {
        UsageCases rows;
        rows.Add("help", {"--help"}, 0, "Usage: kav-update [options] [FILE]\n");
        rows.Add("lang 4000", {"--cli", "--lang", "4000"}, 2, "--lang takes");
        rows.Add("lang De", {"--cli", "--lang", "De", "--firmware", "/nowhere/A.FWR"}, 2,
                 "Die Firmware-Datei /nowhere/A.FWR fehlt");
        rows.Add("no firmware file", {"--cli", "--firmware", "/nowhere/A.FWR"}, 2,
                 "] The firmware file /nowhere/A.FWR is missing or hidden.");
        rows.Add("Qt's own options", {"-style", "fusion", "--cli", "--firmware", "/nowhere/B"}, 2,
                 "/nowhere/B is missing");
        rows.Add(
            "no firmware file in the folder", {"--cli", "--app-dir", "DIR"}, 2,
            "[Error] There is no firmware file KAV.1F.FWR in this folder: DIR. Give the maker's firmware "
            "file "
            "with --firmware FILE.\n");
        rows.Add("no display", {}, 2, "no display: use --cli");
        rows.Add("simulator refuses",
                 {"--cli", "--simulate", "--firmware", KAV_DEMO_FIRMWARE, "--sim-args", "--bogus"}, 2,
                 "The simulated DC (");
        rows.Add("demo firmware named alone, real DC", {"--cli", KAV_DEMO_FIRMWARE, "--port", "/dev/null"}, 2,
                 "[Firmware Update] The firmware file " KAV_DEMO_FIRMWARE " is the demo firmware");
        // A log that cannot be replayed here.
        rows.Add("replay: no run log", {"--replay", KAV_TRACES "/roads.txt"}, 2,
                 "cannot replay " KAV_TRACES "/roads.txt: it is not a kav-update run log");
        rows.Add("replay: firmware not at hand",
                 {"--replay", KAV_TRACES "/one-image-512.log", "--firmware", "/nowhere/A"}, 2,
                 "the firmware file /nowhere/A (sha256 6e593f1a");
        rows.Add("replay: another firmware file",
                 {"--replay", KAV_TRACES "/one-image-512.log", "--firmware", KAV_TRACES "/two-images.fwr"}, 2,
                 "two-images.fwr is not the firmware file of the log");
        // DIR: the run's own folder, empty; the demo comes from beside the program.
        rows.Add("simulated DC finds the demo", {"--cli", "--simulate", "--app-dir", "DIR"}, 3,
                 ">>> Click on Next");
    }
    void usageErrorAndHelp() {
        auto [args, status, says] = UsageCases::Fetch();
        Run run;
        args.replaceInStrings(QRegularExpression("^DIR$"), run.dir.path());
        says.replace("DIR", run.dir.path());
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            run.env.remove(name);
        run.Start(KAV_UPDATE_PATH, args, QString());
        QCOMPARE(run.Finish(20), status);
        QVERIFY2(run.output.contains(says), qPrintable(run.output));
    }

    // The three programs alike: a usage error is one line that names the program, then a hint, on standard
    // error only, and exit status 2; -V and --version print the version.
    void commandLineHabits_data() {
        HabitCases rows;
        const QMap<QString, QString> paths{
            {"kav-update", KAV_UPDATE_PATH}, {"kav-dc-sim", KAV_DC_SIM_PATH}, {"kav-fwr", KAV_FWR_PATH}};
        // command: what --help is to be asked of, the program or the program and its subcommand.
        const auto usage = [&](const QString& command, const QStringList& args, const QString& problem) {
            const QString program = command.section(u' ', 0, 0);
            rows.Add(qPrintable((program + ' ' + args.join(' ')).trimmed()), paths[program], args, 2,
                     QString(),
                     program + ": " + problem + "\nTry '" + command + " --help' for more information.\n");
        };
        usage("kav-update", {"--no-such-option"}, "unknown option 'no-such-option'");
        usage("kav-update", {"--cli", "a.fwr", "extra"}, "unexpected argument 'extra'");
        usage("kav-update", {"--firmware", "a", "b.fwr"}, "two firmware files: 'b.fwr' and --firmware a");
        usage("kav-update", {"--json"}, "--json needs --history");
        usage("kav-update", {"--cli", "--port", "a", "--port", "b"}, "several DCs need --yes");
        usage("kav-update", {"--history", "123456", "654321"}, "unexpected argument '654321'");
        usage("kav-dc-sim", {"--bogus"}, "unknown option 'bogus'");
        usage("kav-dc-sim", {"--memory", "3"}, "--memory wants 512 or 1024");
        usage("kav-fwr", {}, "COMMAND is missing");
        usage("kav-fwr", {"bogus"}, "unknown command 'bogus'");
        usage("kav-fwr pack", {"pack", "--out", "x.fwr", "--version", "1B"}, "unknown option 'version'");
        usage("kav-fwr pack", {"pack", "--demo-image", "2"}, "--out FILE is missing");
        usage("kav-fwr inspect", {"inspect"}, "FILE is missing");
        // One option object serves -V and --version alike; -v stays for kav-update's older callers.
        for (const auto& [program, option] : {std::pair{"kav-update", "-v"}, std::pair{"kav-dc-sim", "-V"},
                                              std::pair{"kav-fwr", "--version"}})
            rows.Add(qPrintable(QStringLiteral("%1 %2").arg(program, option)), paths[program], {option}, 0,
                     QString(program) + " " KAV_VERSION "\n", QString());
    }
    void commandLineHabits() {
        const auto& [program, args, status, out, err] = HabitCases::Fetch();
        QProcess process;
        process.start(program, args);
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitCode(), status);
        QCOMPARE(QString::fromUtf8(process.readAllStandardOutput()), out);
        QCOMPARE(QString::fromUtf8(process.readAllStandardError()), err);
    }

    // --history: newest first, one DC's with its serial number, as a table or a JSON array; none is no error.
    void history_data() {
        HistoryCases rows;
        rows.Add("table", QStringList{}, QStringList{"000042", "123456", "000042"});
        rows.Add("one DC", QStringList{"42"}, QStringList{"000042", "000042"});
        rows.Add("JSON", QStringList{"--json"}, QStringList{"000042", "123456", "000042"});
        rows.Add("JSON, one DC", QStringList{"--json", "123456"}, QStringList{"123456"});
        rows.Add("no such DC", QStringList{"7"}, QStringList{});
    }
    void history() {
        const auto& [args, serials] = HistoryCases::Fetch();
        QTemporaryDir dir;
        QString why;
        for (const qint64 serial : {42, 123456, 42}) {
            UpdateAttempt a;
            a.time = QDateTime::currentDateTime();
            a.serial = serial, a.model = "KAV 1F", a.outcome = UpdateAttempt::Outcome::Succeeded;
            QVERIFY2(AppendToHistory(dir.filePath("history.jsonl"), a, &why), qPrintable(why));
        }
        QProcess process;
        process.start(KAV_UPDATE_PATH, QStringList{"--history", "--app-dir", dir.path()} + args);
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitCode(), 0);
        const QByteArray out = process.readAllStandardOutput();
        QStringList printed;
        if (args.contains("--json")) {
            for (const QJsonValue& v : QJsonDocument::fromJson(out).array())
                printed << v["serial"].toString();
        } else {
            static const QRegularExpression serial("^\\S+\\s+(\\d{6})\\s",
                                                   QRegularExpression::MultilineOption);
            for (auto m = serial.globalMatch(QString::fromUtf8(out)); m.hasNext();)
                printed << m.next().captured(1);
        }
        QCOMPARE(printed, serials);
        const QByteArray none = args.contains("--json") ? process.readAllStandardError() : out;
        QCOMPARE(none.contains("No update of the DC"), serials.isEmpty());
    }

    // --identify tells who the DC is and that a backup of it waits, and asks it only what the recovery would
    // before it writes: the identification and block 0.
    void identify() {
        Run run;
        const QString backup = PlaceBackup(run.dir.path(), 123456);
        QVERIFY(!backup.isEmpty());
        const QString wire = run.dir.filePath("wire.log");
        run.Start(KAV_UPDATE_PATH,
                  {"--identify", "--simulate", "--app-dir", run.dir.path(), "--firmware", KAV_DEMO_FIRMWARE,
                   "--sim-args", "--serial 123456 --wire-log " + wire},
                  QString());
        QCOMPARE(run.Finish(30), 0);
        for (const QString& line : {QString("identification: KAV1F V1A 0512KB"), QString("model: KAV 1F"),
                                    QString("firmware version: 1A"), QString("serial number: 123456"),
                                    "backup: " + backup + " waits to be restored into this DC"})
            QVERIFY2(run.output.contains(line + '\n'), qPrintable(run.output));
        QCOMPARE(CommandsHeard(wire), (QStringList{"84", "B4"}));
        QVERIFY(QFile::exists(backup));
    }

    // --restore-profile refuses another DC's file having only read, then writes the DC's own back, its
    // present profile kept in the archive first; the file stays.
    void restoreProfile() {
        Run run;
        const QString ownFile = PlaceBackup(run.dir.path(), 123456),
                      foreignFile = PlaceBackup(run.dir.path(), 654321);
        QVERIFY(!ownFile.isEmpty() && !foreignFile.isEmpty());
        const QString wire = run.dir.filePath("wire.log");
        const auto restore = [&](const QString& file, const QString& simArgs) {
            run.output.clear();
            run.Start(KAV_UPDATE_PATH,
                      {"--restore-profile", file, "--simulate", "--app-dir", run.dir.path(), "--firmware",
                       KAV_DEMO_FIRMWARE, "--sim-args", "--serial 123456 " + simArgs},
                      QString());
            run.Say("yes\n");
            return run.Finish(60);
        };
        QCOMPARE(restore(foreignFile, "--wire-log " + wire), 2);
        QVERIFY2(run.output.contains("holds the profile of the DC with serial number 654321, not of this one "
                                     "(123456): nothing was written"),
                 qPrintable(run.output));
        QCOMPARE(CommandsHeard(wire), (QStringList{"84", "B4"}));

        QCOMPARE(restore(ownFile, QString()), 0);
        QVERIFY2(run.output.contains("> Restoring the DC profile : Done"), qPrintable(run.output));
        QCOMPARE(run.Backups().size(), 2);  // the file stays
        const QStringList kept =
            QDir(ArchiveFolder(run.dir.path())).entryList({"513.123456.*.before-restore.bin"}, QDir::Files);
        QCOMPARE(kept.size(), 1);
    }

    // A service station: every DC updated at once by a run of its own, each line behind its port, one summary
    // row a DC, one history line a DC; a DC that refuses the upload fails alone and keeps its backup.
    void serviceStation_data() {
        StationCases rows;
        rows.Add("four succeed", QStringList(), 0);
        rows.Add("one refuses", QStringList{"--serial", "300199", "--refuse", "B6:5"}, 1);
    }
    void serviceStation() {
        const auto& [refusingDc, status] = StationCases::Fetch();
        const auto simulate = [](QProcess& sim, const QStringList& args, int count) {
            sim.start(KAV_DC_SIM_PATH,
                      args + QStringList{"--restart-seconds", "1", "--count", QString::number(count)});
            QStringList paths;
            while (paths.size() < count && sim.waitForReadyRead(10000))
                while (sim.canReadLine())
                    paths << QString::fromUtf8(sim.readLine()).trimmed();
            return paths;
        };
        QProcess four, refusing;
        const QStringList ports = simulate(four, {"--serial", "300100"}, 4) +
                                  (refusingDc.isEmpty() ? QStringList() : simulate(refusing, refusingDc, 1));
        QCOMPARE(ports.size(), refusingDc.isEmpty() ? 4 : 5);
        QCOMPARE(QSet<QString>(ports.begin(), ports.end()).size(), ports.size());
        Run run;
        QStringList args{"--cli", "--yes"};
        for (const QString& port : ports)
            args << "--port" << port;
        run.Sim(QString(), args);
        QCOMPARE(run.Finish(120), status);
        const QStringList lines = run.output.split('\n', Qt::SkipEmptyParts);
        const qsizetype table =
            lines.indexOf(QRegularExpression("port +serial +version +outcome +seconds +backup file"));
        QVERIFY2(table > 0, qPrintable(run.output));
        for (const QString& line : lines.first(table))
            QVERIFY2(std::any_of(ports.begin(), ports.end(),
                                 [&](const QString& p) { return line.startsWith(p + ": "); }),
                     qPrintable(line));
        const QStringList rows = lines.mid(table + 1);
        QCOMPARE(rows.size(), ports.size());
        for (int i = 0; i < 4; ++i) {
            const auto row = QRegularExpression(
                QRegularExpression::escape(ports[i]) +
                QString(" +3001%1 +\\S+ -> \\S+ +succeeded +[\\d.]+ +\\S+/restored/\\S+\\.bin$")
                    .arg(i, 2, 10, QChar('0')));
            QVERIFY2(rows[i].contains(row), qPrintable(rows[i]));
        }
        const auto history = ReadHistory(run.dir.filePath("history.jsonl"));
        QCOMPARE(qsizetype(history.size()), ports.size());
        if (!refusingDc.isEmpty()) {
            QVERIFY2(
                rows[4].contains(QRegularExpression(
                    " 300199 .* failed .*" + QRegularExpression::escape(run.dir.path()) + "/[^/]+\\.bin$")),
                qPrintable(rows[4]));
            QCOMPARE(run.Backups().size(), 1);
        }
        four.closeWriteChannel();
        refusing.closeWriteChannel();
        QVERIFY(four.waitForFinished(10000));
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
        Run crashed, later;
        crashed.env.insert("HOME", crashed.dir.path());
        crashed.env.insert("XDG_DATA_HOME", crashed.dir.filePath("data"));
        later.env = crashed.env;
        const QDir backups(crashed.dir.filePath("data/kav-update"));

        crashed.Start(program, {}, "--silence 137:22 --restart-seconds 1");
        crashed.Say("\n\n");
        QVERIFY2(crashed.WaitFor(kNotCompleted, 90), qPrintable(crashed.output));
        QCOMPARE(backups.entryList({"*.bin"}).size(), 1);
        crashed.process.kill();
        crashed.process.waitForFinished(10000);

        later.Start(program, {}, "--restart-seconds 1");
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
