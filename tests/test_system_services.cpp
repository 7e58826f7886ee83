#include <QtTest>

#include "support/device_id.h"
#include "support/file_exists.h"
#include "support/process_priority.h"
#include "support/run_log.h"

class TestSystemServices : public QObject {
    Q_OBJECT

private slots:
    void checkDeviceId_data() {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("model");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("rewritten");
        QTest::addColumn<QString>("version");  // DeviceVersion starts as "zz"

        const auto row = [](const char* name, const char* id, const char* model, bool result,
                            const char* rewritten, const char* version) {
            QTest::newRow(name) << QString::fromLatin1(id) << QString::fromLatin1(model) << result
                                << QString::fromLatin1(rewritten) << QString::fromLatin1(version);
        };
        row("3 words: version from word 2", "KAV1F XY1A END", "KAV1F", true, "KAV1F XY1A END", "1A");
        row("4 words: version from word 3", "KAV1F A1B B21 C", "KAV1F", true, "KAV1F A1B B21 C", "21");
        row("5 words: version kept", "KAV1F A1 B2 C3 D4", "KAV1F", true, "KAV1F A1 B2 C3 D4", "zz");
        row("2 words", "KAV1F 1A", "KAV1F", false, "KAV1F 1A", "zz");
        row("double blank reduced", "KAV1F  XY1A END", "KAV1F", true, "KAV1F XY1A END", "1A");
        // Three blanks leave two, which enclose an empty word: 4 words, so the version comes from "V12".
        row("3 blanks", "KAV1F   V12 Q9", "KAV1F", true, "KAV1F  V12 Q9", "12");
        row("case ignored", "kav1f XY1A END", "Kav1F", true, "kav1f XY1A END", "1A");
        row("model inside a word", "X KAV1F1B Y", "kav1f", true, "X KAV1F1B Y", "1B");
        row("no match", "ABC DEF1A GHI", "KAV1F", false, "ABC DEF1A GHI", "zz");
    }
    void checkDeviceId() {
        QFETCH(QString, id);
        QFETCH(QString, model);
        QString deviceVersion = QStringLiteral("zz");
        const bool result = CheckDeviceId(id, model, deviceVersion);
        QTEST(result, "result");
        QTEST(id, "rewritten");
        QTEST(deviceVersion, "version");
    }

    // Hidden files and folders do not count.
    void fileExists() {
        QTemporaryDir dir;
        for (const char* file : {"KAV.1F.FWR", ".profile.bin"})
            QVERIFY(QFile(dir.filePath(QLatin1String(file))).open(QIODevice::WriteOnly));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
        QList<bool> found;
        for (const char* name : {"KAV.1F.FWR", ".profile.bin", "absent.bin", "folder"})
            found << FileExists(dir.filePath(QLatin1String(name)));
        QCOMPARE(found, (QList<bool>{true, false, false, false}));
    }

    // Classes to nice values and back; idle is not changed, and nice values between classes go down a class.
    void priorityClassesAsNiceValues() {
        QCOMPARE((QList<std::optional<int>>{
                     NiceForPriorityClass(PriorityNormal), NiceForPriorityClass(PriorityHigh),
                     NiceForPriorityClass(PriorityRealtime), NiceForPriorityClass(64)}),
                 (QList<std::optional<int>>{0, -10, -20, std::nullopt}));
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
        QCOMPARE(left.first(), "kav-update-20260101-090006-000.log");
        QCOMPARE(left.last(), "other.log");
    }
};

QTEST_GUILESS_MAIN(TestSystemServices)
#include "test_system_services.moc"
