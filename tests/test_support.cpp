// The support layer: device ids, priorities, logs and their folder, and the text database's
// lookups and damaged files; the update history's record and file.
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>
#include "fakes/rows.h"

#include "run/update_history.h"
#include "support/app_folders.h"
#include "support/device_id.h"
#include "support/process_priority.h"
#include "support/recorded_run.h"
#include "support/run_log.h"
#include "support/text_database.h"

namespace {

// A database made by hand, to test the reader against files the build would never produce.
QString MakeDatabase(const QTemporaryDir& dir, const QStringList& statements) {
    const QString path = dir.filePath("FirmwareUpdate.lng");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "make");
        db.setDatabaseName(path);
        db.open();
        QSqlQuery q(db);
        for (const QString& s : statements)
            if (!q.exec(s))
                qWarning() << s << q.lastError().text();
        db.close();
    }
    QSqlDatabase::removeDatabase("make");
    return path;
}

const QStringList kGoodTables = {
    "CREATE TABLE CONTENTS (ID INTEGER PRIMARY KEY, L1 TEXT, L2 TEXT)",
    "INSERT INTO CONTENTS VALUES (280, 'Error', 'Fehler')",
    "INSERT INTO CONTENTS VALUES (777, 'Done', '')",
    "CREATE TABLE LANGUAGES (Code INTEGER)",
    "INSERT INTO LANGUAGES VALUES (5000)",
};

}  // namespace

// openAndLookUp: statements (none: no database, only the junk, if any), junk, column, id, result, text.
using LookUpCases = Rows<QStringList, QByteArray, int, int, int, QString>;

// runLogWire: trace, frames (130-byte block frames), keep, wireLines (wire lines in the log), leftOut.
using WireLogCases = Rows<bool, int, bool, int, int>;
using LogFolderCases = Rows<bool, QString, QString>;

// firmwareVersionOf: id, model, version ("none": not this model's id).
using VersionCases = Rows<QString, QString, QString>;
using RefusedLogCases = Rows<QByteArray, QString>;

class TestSupport : public QObject {
    Q_OBJECT

private slots:
    // Every field survives the line; what is not known is null, and a record without its time or outcome
    // is no record.
    void historyRecordRoundTrip() {
        UpdateAttempt a;
        a.time = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7), Qt::OffsetFromUTC, 3600);
        a.port = "/dev/ttyUSB0", a.model = "KAV 1F", a.serial = 12345;
        a.versionBefore = "1A", a.subVersionBefore = 3, a.versionAfter = "1B", a.subVersionAfter = 5;
        a.firmwareName = "KAV.1F.FWR", a.firmwareSha256 = QString(64, 'a');
        a.outcome = UpdateAttempt::Outcome::Closed, a.failedStep = "upload";
        a.backup = UpdateAttempt::BackupFate::KeptForRecovery, a.backupFile = "/b/513.012345.bin";
        a.logFile = "/l/x.log", a.seconds = 81.25;
        const QJsonObject json = a.ToJson();
        QCOMPARE(json["time"].toString(), "2026-03-04T05:06:07+01:00");
        QCOMPARE(json["serial"].toString(), "012345");
        QCOMPARE(json["outcome"].toString(), "closed by the user");
        QCOMPARE(json["backup"].toString(), "kept for recovery");
        const auto back = UpdateAttempt::FromJson(json);
        QVERIFY(back);
        QCOMPARE(back->ToJson(), json);
        QCOMPARE(back->time, a.time);
        UpdateAttempt bare;
        bare.time = a.time;
        const QJsonObject unknown = bare.ToJson();
        QVERIFY(UpdateAttempt::FromJson(unknown).has_value());
        for (const char* key :
             {"serial", "version_after", "sub_version_before", "failed_step", "backup_file"})
            QVERIFY2(unknown[key].isNull(), key);
        for (const char* key : {"time", "outcome", "backup"}) {
            QJsonObject broken = json;
            broken[key] = "bogus";
            QVERIFY2(!UpdateAttempt::FromJson(broken), key);
        }
    }

    // Two writers at once: every line stays whole and every attempt is there.
    void historyAppendsNeverInterleave() {
        QTemporaryDir dir;
        const QString path = HistoryFileIn(dir.filePath("new folder"));
        constexpr int kLines = 200;
        const auto writer = [&path](const QString& port) {
            UpdateAttempt a;
            a.time = QDateTime::currentDateTime();
            a.port = port.repeated(2000);  // lines of several kilobytes
            for (int i = 0; i < kLines; ++i) {
                QString why;
                if (!AppendToHistory(path, a, &why))
                    qWarning() << why;
            }
        };
        std::thread first(writer, QStringLiteral("a")), second(writer, QStringLiteral("b"));
        first.join();
        second.join();
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.size(), 2 * kLines + 1);  // and the empty rest after the last line end
        for (int i = 0; i < 2 * kLines; ++i)
            QVERIFY2(QJsonDocument::fromJson(lines[i]).isObject(), qPrintable(QString::number(i)));
        QCOMPARE(int(ReadHistory(path).size()), 2 * kLines);
    }

    void firmwareVersionOf_data() {
        VersionCases rows;
        rows.Add("3 words: version from word 2", "KAV1F XY1A END", "KAV1F", "1A");
        rows.Add("4 words: version from word 3", "KAV1F A1B B21 C", "KAV1F", "21");
        rows.Add("5 words: no version", "KAV1F A1 B2 C3 D4", "KAV1F", "");
        rows.Add("2 words", "KAV1F 1A", "KAV1F", "none");
        rows.Add("double blank reduced", "KAV1F  XY1A END", "KAV1F", "1A");
        // Three blanks leave two, which enclose an empty word: 4 words, so the version comes from "V12".
        rows.Add("3 blanks", "KAV1F   V12 Q9", "KAV1F", "12");
        rows.Add("case ignored", "kav1f XY1A END", "Kav1F", "1A");
        rows.Add("model inside a word", "X KAV1F1B Y", "kav1f", "1B");
        rows.Add("no match", "ABC DEF1A GHI", "KAV1F", "none");
    }
    void firmwareVersionOf() {
        const auto& [id, model, version] = VersionCases::Fetch();
        QCOMPARE(FirmwareVersionOf(id, model).value_or("none"), version);
    }

    // Classes to nice values and back; idle is not changed, and nice values between classes go down a class.
    void priorityClassesAsNiceValues() {
        QVERIFY(!NiceForPriorityClass(64));
        QCOMPARE((QList<int>{PriorityClassForNice(0), PriorityClassForNice(-10), PriorityClassForNice(-20),
                             PriorityClassForNice(-19), PriorityClassForNice(-9), PriorityClassForNice(19)}),
                 (QList<int>{PriorityNormal, PriorityHigh, PriorityRealtime, PriorityHigh, PriorityNormal,
                             PriorityNormal}));
        OsPriorityControl control;
        QCOMPARE(control.SetProcessPriority(0, 0, PriorityNormal), PriorityNormal);
        QCOMPARE(control.SetProcessPriority(0x7ffffffe, 0, PriorityNormal), 0);  // an id far above any in use
    }
    // A new log is named by the time; the oldest logs go so that 20 remain with it, and nothing else goes.
    void logsKeepTheLast20() {
        QTemporaryDir dir;
        for (int second = 0; second < 25; ++second)
            QFile(dir.filePath(
                      QStringLiteral("kav-update-20260101-0900%1-000.log").arg(second, 2, 10, QChar('0'))))
                .open(QIODevice::WriteOnly);
        QFile(dir.filePath("other.log")).open(QIODevice::WriteOnly);
        const QString path = NewLogPath(dir.path(), QDateTime(QDate(2026, 1, 2), QTime(8, 0)));
        QCOMPARE(QFileInfo(path).fileName(), "kav-update-20260102-080000-000.log");
        const QStringList left = QDir(dir.path()).entryList(QDir::Files, QDir::Name);
        QCOMPARE(left.size(), 20);
        QCOMPARE(left.first() + ' ' + left.last(), "kav-update-20260101-090006-000.log other.log");
    }

    // The log names its format first. The wire goes in as it passes for a trace; otherwise it is held and
    // kept only when asked, its first and last part when it outgrew them, saying how much was left out.
    void runLogWire_data() {
        WireLogCases rows;
        rows.Add("trace", true, 3, false, 3, 0);
        rows.Add("held, then dropped", false, 3, false, 0, 0);
        rows.Add("held, then kept", false, 3, true, 3, 0);
        constexpr int line = 7 + 1 + 130 * 3 + 1;  // "+0.000 >", " A5" each byte, the end of the line
        constexpr int head = (RunLog::kHeldHeadBytes + line - 1) / line, tail = RunLog::kHeldTailBytes / line;
        rows.Add("kept beyond its bounds", false, 12000, true, head + tail, 12000 - head - tail);
    }
    void runLogWire() {
        const auto& [trace, frames, keep, wireLines, leftOut] = WireLogCases::Fetch();
        QTemporaryDir dir;
        VirtualClock clock;
        {
            RunLog log(clock);
            QVERIFY(log.Open(dir.filePath("run.log"), nullptr));
            log.WriteWireAtOnce(trace);
            const std::vector<std::uint8_t> frame(130, 0xA5);
            for (int i = 0; i < frames; ++i)
                log.Bytes('>', frame);
            keep ? log.KeepHeldWire("why") : log.DropHeldWire();
        }
        QFile file(dir.filePath("run.log"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.first(), QByteArray("kav-update run log, format 1"));
        QCOMPARE(int(std::count_if(lines.begin(), lines.end(),
                                   [](const QByteArray& l) { return l.contains(" > A5"); })),
                 wireLines);
        const QByteArray said = "+0.000 wire (why): " + QByteArray::number(frames) + " lines" +
                                (leftOut ? ", " + QByteArray::number(leftOut) + " of them left out" : "");
        QCOMPARE(
            std::any_of(lines.begin(), lines.end(), [&](const QByteArray& l) { return l.startsWith(said); }),
            keep && !trace);
        QCOMPARE(lines.contains("... " + QByteArray::number(leftOut) + " lines left out ..."), leftOut > 0);
        // Read back for a replay: the whole wire, or why it is not whole.
        QString error;
        const std::optional<RecordedRun> run = ParseRunLog(lines.join('\n'), &error);
        QVERIFY2(run, qPrintable(error));
        const bool whole = trace || (keep && leftOut == 0);
        QCOMPARE(run->wireGap.isEmpty(), whole);
        QCOMPARE(int(run->wire.size()), whole ? frames : keep ? frames - leftOut : 0);
    }

    // A log that cannot be replayed says why.
    void runLogRefused_data() {
        RefusedLogCases rows;
        const QByteArray head = "kav-update run log, format 1\n";
        rows.Add("no run log", QByteArray("+1.000 > 84 00\n"), "it is not a kav-update run log");
        rows.Add("newer", QByteArray("kav-update run log, format 2\n"), "its format 2 is newer");
        rows.Add("no time", head + "+1.000 > 84 00\n1.5 < 5A\n", "line 3 is damaged");
        rows.Add("bad byte", head + "+1.000 > 84 00\n+1.5 < 5A 4\n", "line 3 is damaged");
    }
    void runLogRefused() {
        const auto& [log, why] = RefusedLogCases::Fetch();
        QString error;
        QVERIFY(!ParseRunLog(log, &error));
        QVERIFY2(error.startsWith(why), qPrintable(error));
    }

#ifndef Q_OS_WIN
    // The log folder follows XDG_STATE_HOME when it is an absolute path; unset, empty or relative (which the
    // XDG base-directory convention says to ignore), the state folder in the home folder.
    void runLogFolder_data() {
        LogFolderCases rows;
        const QString fallback = "/home/diver/.local/state/kav-update/logs";
        rows.Add("set", true, "/var/tmp/state", "/var/tmp/state/kav-update/logs");
        rows.Add("set, trailing slash", true, "/var/tmp/state/", "/var/tmp/state/kav-update/logs");
        rows.Add("unset", false, "", fallback);
        rows.Add("empty", true, "", fallback);
        rows.Add("relative", true, "state", fallback);
        rows.Add("relative, dot", true, "./state", fallback);
    }
    void runLogFolder() {
        const auto& [set, stateHome, folder] = LogFolderCases::Fetch();
        const QByteArray home = qgetenv("HOME"), state = qgetenv("XDG_STATE_HOME");
        const bool stateWasSet = qEnvironmentVariableIsSet("XDG_STATE_HOME");
        const auto restore = qScopeGuard([&] {
            qputenv("HOME", home);
            if (stateWasSet)
                qputenv("XDG_STATE_HOME", state);
            else
                qunsetenv("XDG_STATE_HOME");
        });
        qputenv("HOME", "/home/diver");
        if (set)
            qputenv("XDG_STATE_HOME", stateHome.toLocal8Bit());
        else
            qunsetenv("XDG_STATE_HOME");
        QCOMPARE(RunLogFolder(), folder);
    }
#endif

    // The build fails on a text missing in any language; what it could still get wrong is the indent.
    void builtDatabaseKeepsIndentedLines() {
        TextDatabase db;
        QCOMPARE(db.Open(qEnvironmentVariable("KAV_TEST_LNG"), 1), TextDatabase::OpenResult::Ok);
        QVERIFY(db.GetText(Txt::RecoverLinePcScreen).startsWith("   ") &&
                !db.GetText(Txt::RecoverLinePcScreen).startsWith("    "));
    }

    void openAndLookUp_data() {
        LookUpCases rows;
        using R = TextDatabase::OpenResult;
        const QStringList good = kGoodTables, contents = good.mid(0, 3);
        const QByteArray none;
        rows.Add("second language", good, none, 2, 280, int(R::Ok), "Fehler");
        rows.Add("column 0 is the id", good, none, 0, 280, int(R::Ok), "280");
        rows.Add("no such column", good, none, 3, 280, int(R::Ok), "");
        rows.Add("no such id", good, none, 1, 281, int(R::Ok), "");
        rows.Add("missing translation", good, none, 2, 777, int(R::Ok), "");
        rows.Add("no LANGUAGES table", contents, none, 1, 280, int(R::Damaged), "Error");
        rows.Add("empty LANGUAGES", contents + QStringList{"CREATE TABLE LANGUAGES (Code INTEGER)"}, none, 1,
                 280, int(R::Damaged), "Error");
        rows.Add("no CONTENTS table", good.mid(3), none, 1, 280, int(R::Unusable), "");
        rows.Add("not a database", {}, QByteArray(4096, 'x'), 1, 280, int(R::Unusable), "");
        rows.Add("missing: not created", {}, none, 1, 280, int(R::Unusable), "");
    }
    void openAndLookUp() {
        const auto& [statements, junk, column, id, result, text] = LookUpCases::Fetch();
        QTemporaryDir dir;
        QFile file(statements.isEmpty() ? dir.filePath("FirmwareUpdate.lng") : MakeDatabase(dir, statements));
        if (!junk.isEmpty())
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(junk) == junk.size() && file.flush());
        const bool existed = file.exists();
        TextDatabase db;
        QCOMPARE(int(db.Open(file.fileName(), column)), result);
        QCOMPARE(db.GetText(id), text);
        QCOMPARE(db.GetText(id), text);  // the prepared lookup is reusable
        QCOMPARE(file.exists(), existed);
    }

    void searchOrderOfTheDatabase() {
        QTemporaryDir app, exe, data;
        const QString name = "FirmwareUpdate.lng";
        QCOMPARE(FindTextDatabase(app.path(), exe.path(), data.path()),
                 app.filePath(name));                             // none: app folder
        for (const QTemporaryDir* place : {&data, &exe, &app}) {  // each wins over the places before it
            QVERIFY(QFile(place->filePath(name)).open(QIODevice::WriteOnly));
            QCOMPARE(FindTextDatabase(app.path(), exe.path(), data.path()), place->filePath(name));
        }
    }
};

QTEST_GUILESS_MAIN(TestSupport)
#include "test_support.moc"
