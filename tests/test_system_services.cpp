#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "support/device_id.h"
#include "support/file_exists.h"
#include "support/in_memory_registry.h"
#include "support/process_priority.h"
#include "support/windows_version.h"

using NiceValue = std::optional<int>;
Q_DECLARE_METATYPE(NiceValue)

namespace {
const QString kKey = QStringLiteral("SYSTEM\\CurrentControlSet\\Enum\\Test");

QByteArray Bytes(const char* data, int size) {
    return QByteArray(data, size);
}
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
        row("2 words, empty model", "AB CD", "", false, "AB CD", "zz");
        row("empty text", "", "", false, "", "zz");
        row("double blank reduced", "KAV1F  XY1A END", "KAV1F", true, "KAV1F XY1A END", "1A");
        row("double blank, 2 words", "KAV1F  1A", "KAV1F", false, "KAV1F 1A", "zz");
        // Three blanks leave two, which enclose an empty word: 4 words, so the version comes from "V12".
        row("3 blanks", "KAV1F   V12 Q9", "KAV1F", true, "KAV1F  V12 Q9", "12");
        // Four blanks leave two: the empty word is word 2, which gives an empty version.
        row("4 blanks", "KAV1F    V12", "KAV1F", true, "KAV1F  V12", "");
        // Seven blanks leave four: 5 words, so the version is kept.
        row("7 blanks", "A       B", "", true, "A    B", "zz");
        row("case ignored", "kav1f XY1A END", "Kav1F", true, "kav1f XY1A END", "1A");
        row("model inside a word", "X KAV1F1B Y", "kav1f", true, "X KAV1F1B Y", "1B");
        row("empty model matches", "AB CD EF", "", true, "AB CD EF", "CD");
        row("no match", "ABC DEF1A GHI", "KAV1F", false, "ABC DEF1A GHI", "zz");
        row("short word", "KAV1F 7 Z", "KAV1F", true, "KAV1F 7 Z", "7");
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
        QTest::addColumn<int>("kind");  // 0 nothing, 1 file, 2 folder
        QTest::addColumn<bool>("expected");
        QTest::newRow("ordinary file") << "KAV.1F.FWR" << 1 << true;
        QTest::newRow("hidden file") << ".profile.bin" << 1 << false;
        QTest::newRow("missing") << "absent.bin" << 0 << false;
        QTest::newRow("folder") << "folder" << 2 << false;
        QTest::newRow("empty path") << "" << 0 << false;
    }
    void fileExists() {
        QFETCH(QString, name);
        QFETCH(int, kind);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = name.isEmpty() ? QString() : dir.filePath(name);
        if (kind == 1) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("x");
        } else if (kind == 2) {
            QVERIFY(QDir(dir.path()).mkdir(name));
        }
        QTEST(FileExists(path), "expected");
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
        const auto latin1 = [](const char* text, int size) {
            return QVariant(QString::fromLatin1(text, size));
        };
        row("string keeps its NUL", RegistryString, Bytes("COM12\0", 6), 0, 0, latin1("COM12\0", 6));
        row("string, bytes after the NUL", RegistryString, Bytes("COM3\0\0", 6), 0, 0, latin1("COM3\0\0", 6));
        row("empty string", RegistryString, Bytes("\0", 1), 0, 0, QString(QChar(0)));
        row("string read fails", RegistryString, Bytes("COM1\0", 5), 234, 234, QVariant());
        row("dword little-endian", RegistryDword, "\x12\x34\x56\x78", 0, 0, qint32(0x78563412));
        row("dword all ones", RegistryDword, "\xff\xff\xff\xff", 0, 0, qint32(-1));
        row("binary 2 bytes", RegistryBinary, "\x05\x01", 0, 0, qint32(0x0105));
        row("binary 5 bytes refused", RegistryBinary, "\x01\x02\x03\x04\x05", 0, 234);
        row("8-byte dword refused", RegistryDword, QByteArray(8, '\x01'), 0, 234);
        row("dword read fails", RegistryDword, QByteArray(4, '\0'), 5, 5);
        row("expandable string unsupported", 2, Bytes("%X%\0", 4), 0, -1);
        row("multi-string unsupported", 7, Bytes("A\0\0", 3), 0, -1);
    }
    void queryRegistryValue() {
        QFETCH(quint32, type);
        QFETCH(QByteArray, data);
        QFETCH(long, readStatus);
        QFETCH(QVariant, value);
        InMemoryRegistry registry;
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

    void queryRegistryValueMissing() {
        InMemoryRegistry registry;
        registry.SetString(kKey, QStringLiteral("PortName"), QStringLiteral("COM4"));
        quintptr key = 0;
        QCOMPARE(registry.OpenKey(QStringLiteral("SYSTEM\\Elsewhere"), &key), RegistryNotFound);
        QCOMPARE(registry.OpenKey(kKey.toUpper(), &key), RegistryOk);
        QVariant out(7);
        QCOMPARE(QueryRegistryValue(registry, key, QStringLiteral("Port"), out), RegistryNotFound);
        QCOMPARE(out, QVariant(7));
        QCOMPARE(QueryRegistryValue(registry, key, QStringLiteral("PortName"), out), RegistryOk);
        QCOMPARE(out.toString(), QString::fromLatin1("COM4\0", 5));
        registry.CloseKey(key);
        QCOMPARE(registry.OpenKeyCount(), 0);
        QCOMPARE(QueryRegistryValue(registry, key, QStringLiteral("PortName"), out), RegistryInvalidHandle);
    }

    void windowsFamily_data() {
        QTest::addColumn<quint32>("platform");
        QTest::addColumn<quint32>("major");
        QTest::addColumn<quint32>("minor");
        QTest::addColumn<QString>("family");
        QTest::newRow("Win32s") << 0u << 3u << 10u << "WindowsNT";
        QTest::newRow("NT 4") << 2u << 4u << 0u << "WindowsNT";
        QTest::newRow("Windows 10") << 2u << 10u << 0u << "WindowsNT";
        QTest::newRow("95") << 1u << 4u << 0u << "Windows95";
        QTest::newRow("9x below 4") << 1u << 3u << 95u << "Windows95";
        QTest::newRow("98") << 1u << 4u << 10u << "Windows98";
        QTest::newRow("Me") << 1u << 4u << 90u << "Windows98";
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
        QTest::newRow("zero: no change") << 0 << NiceValue();
    }
    void niceForClass() {
        QFETCH(int, priorityClass);
        QFETCH(NiceValue, nice);
        QCOMPARE(NiceForPriorityClass(priorityClass), nice);
        if (nice)
            QCOMPARE(PriorityClassForNice(*nice), priorityClass);
    }

    // The boundaries; the values of the classes themselves are checked both ways above.
    void classForNice_data() {
        QTest::addColumn<int>("nice");
        QTest::addColumn<int>("priorityClass");
        QTest::newRow("-19") << -19 << 128;
        QTest::newRow("-9") << -9 << 32;
        QTest::newRow("19") << 19 << 32;
    }
    void classForNice() {
        QFETCH(int, nice);
        QTEST(PriorityClassForNice(nice), "priorityClass");
    }

    void osPriority_data() {
        QTest::addColumn<qint64>("processId");
        QTest::addColumn<int>("result");
        QTest::newRow("0 = current") << qint64(0) << PriorityNormal;
        QTest::newRow("own id") << QCoreApplication::applicationPid() << PriorityNormal;
        QTest::newRow("no such process") << qint64(0x7ffffffe) << 0;  // far above any id handed out
    }
    void osPriority() {
        QFETCH(qint64, processId);
        QTEST(OsPriorityControl().SetProcessPriority(processId, 0, PriorityNormal), "result");
    }
};

QTEST_GUILESS_MAIN(TestSystemServices)
#include "test_system_services.moc"
