#include <QtTest>

#include "support/device_id.h"
#include "support/file_exists.h"
#include "support/in_memory_registry.h"
#include "support/process_priority.h"
#include "support/run_log.h"
#include "support/windows_version.h"

using NiceValue = std::optional<int>;
Q_DECLARE_METATYPE(NiceValue)

namespace {
const QString kKey = QStringLiteral("SYSTEM\\CurrentControlSet\\Enum\\Test");
}  // namespace

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

    void fileExists_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("expected");
        QTest::newRow("ordinary file") << "KAV.1F.FWR" << true;
        QTest::newRow("hidden file") << ".profile.bin" << false;
        QTest::newRow("missing") << "absent.bin" << false;
        QTest::newRow("folder") << "folder" << false;
    }
    void fileExists() {
        QFETCH(QString, name);
        QTemporaryDir dir;
        for (const char* file : {"KAV.1F.FWR", ".profile.bin"})
            QVERIFY(QFile(dir.filePath(QLatin1String(file))).open(QIODevice::WriteOnly));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
        QTEST(FileExists(dir.filePath(name)), "expected");
    }

    void queryRegistryValue_data() {
        QTest::addColumn<quint32>("type");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<long>("readStatus");
        QTest::addColumn<long>("status");
        QTest::addColumn<QVariant>("value");  // value starts as the string "before"
        const auto row = [](const char* tag, quint32 type, const QByteArray& data, long readStatus,
                            long status, const QVariant& value = QStringLiteral("before")) {
            QTest::newRow(tag) << type << data << readStatus << status << value;
        };
        row("string keeps its NUL", RegistryString, QByteArrayLiteral("COM12\0"), 0, 0,
            QString::fromLatin1("COM12\0", 6));
        row("string read fails", RegistryString, QByteArrayLiteral("COM1\0"), 234, 234, QVariant());
        row("dword little-endian", RegistryDword, "\x12\x34\x56\x78", 0, 0, qint32(0x78563412));
        row("binary 2 bytes", RegistryBinary, "\x05\x01", 0, 0, qint32(0x0105));
        row("binary 5 bytes refused", RegistryBinary, "\x01\x02\x03\x04\x05", 0, 234);
        row("dword read fails", RegistryDword, QByteArray(4, '\0'), 5, 5);
        row("expandable string unsupported", 2, QByteArrayLiteral("%X%\0"), 0, -1);
        row("no such value", 0, QByteArray(), 0, RegistryNotFound);
    }
    void queryRegistryValue() {
        QFETCH(quint32, type);
        QFETCH(QByteArray, data);
        QFETCH(long, readStatus);
        QFETCH(QVariant, value);
        InMemoryRegistry registry;
        registry.AddKey(kKey);
        if (type != 0)  // 0: nothing stored
            registry.SetValue(kKey, QStringLiteral("PortName"), type, data);
        if (readStatus != 0)
            registry.FailReads(kKey, QStringLiteral("PortName"), readStatus);
        quintptr key = 0;
        QCOMPARE(registry.OpenKey(kKey, &key), 0L);

        QVariant out(QStringLiteral("before"));
        QTEST(QueryRegistryValue(registry, key, QStringLiteral("portname"), out), "status");
        QCOMPARE(out.metaType(), value.metaType());
        QCOMPARE(out, value);
    }

    void windowsFamily_data() {
        QTest::addColumn<quint32>("platform");
        QTest::addColumn<quint32>("major");
        QTest::addColumn<quint32>("minor");
        QTest::addColumn<QString>("family");
        QTest::newRow("Win32s") << 0u << 3u << 10u << "WindowsNT";
        QTest::newRow("NT 4") << 2u << 4u << 0u << "WindowsNT";
        QTest::newRow("95") << 1u << 4u << 0u << "Windows95";
        QTest::newRow("9x below 4") << 1u << 3u << 95u << "Windows95";
        QTest::newRow("98") << 1u << 4u << 10u << "Windows98";
        QTest::newRow("9x major 5") << 1u << 5u << 0u << "Windows98";
        QTest::newRow("CE") << 3u << 4u << 0u << "";
    }
    void windowsFamily() {
        QFETCH(quint32, platform);
        QFETCH(quint32, major);
        QFETCH(quint32, minor);
        QTEST(WindowsFamily(platform, major, minor), "family");
    }

    void niceForClass_data() {
        QTest::addColumn<int>("priorityClass");
        QTest::addColumn<NiceValue>("nice");
        QTest::newRow("normal") << 32 << NiceValue(0);
        QTest::newRow("high") << 128 << NiceValue(-10);
        QTest::newRow("realtime") << 256 << NiceValue(-20);
        QTest::newRow("idle: no change") << 64 << NiceValue();
    }
    void niceForClass() {
        QFETCH(int, priorityClass);
        QFETCH(NiceValue, nice);
        QCOMPARE(NiceForPriorityClass(priorityClass), nice);
        if (nice)
            QCOMPARE(PriorityClassForNice(*nice), priorityClass);
    }

    void classForNiceBoundaries() {
        QCOMPARE(QList<int>({PriorityClassForNice(-19), PriorityClassForNice(-9), PriorityClassForNice(19)}),
                 QList<int>({PriorityHigh, PriorityNormal, PriorityNormal}));
    }

    void osPriority() {
        OsPriorityControl control;
        QCOMPARE(control.SetProcessPriority(0, 0, PriorityNormal), PriorityNormal);
        // An id far above any handed out.
        QCOMPARE(control.SetProcessPriority(0x7ffffffe, 0, PriorityNormal), 0);
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
