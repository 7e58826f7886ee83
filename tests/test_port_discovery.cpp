// Finding the cable's port: the registry locations by Windows family, and the USB ids elsewhere.
#include <QtTest>
#include <algorithm>
#include <set>

#include "link/port_discovery.h"
#include "support/in_memory_registry.h"

Q_DECLARE_METATYPE(SerialPortRecord)

namespace {

const QString kCableKey = QStringLiteral("Enum\\FTDIBUS\\VID_0403+PID_F460+20030001A\\0000");
const QString kSerialComm = QStringLiteral("Hardware\\DeviceMap\\SerialComm");

// Counts every open and close, so that a key left open, or a close skipped after a failed open, shows.
class CountingRegistry final : public Registry {
public:
    explicit CountingRegistry(InMemoryRegistry& inner) : inner_(inner) {}
    long OpenKey(const QString& path, quintptr* key) override {
        const long status = inner_.OpenKey(path, key);
        if (status == RegistryOk)
            open.insert(*key);
        opens << path;
        return status;
    }
    long QueryValue(quintptr key, const QString& name, quint32* type, QByteArray* data,
                    quint32* size) override {
        return inner_.QueryValue(key, name, type, data, size);
    }
    void CloseKey(quintptr key) override {
        ++closes;
        open.erase(key);
        inner_.CloseKey(key);
    }

    QStringList opens;
    int closes = 0;
    std::set<quintptr> open;

private:
    InMemoryRegistry& inner_;
};

}  // namespace

class TestPortDiscovery : public QObject {
    Q_OBJECT

private slots:
    void registry_data() {
        QTest::addColumn<QString>("family");
        QTest::addColumn<QString>("path");  // where the value is stored; empty: nowhere
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("data");  // stored as a string value, bytes as given
        QTest::addColumn<int>("number");       // 0: not found

        const QString portName = QStringLiteral("PortName");
        const QString vcp0 = QStringLiteral("\\Device\\VCP0");
        const auto row = [](const char* tag, const char* family, const QString& path, const QString& name,
                            const QByteArray& data, int number) {
            QTest::newRow(tag) << QString::fromLatin1(family) << path << name << data << number;
        };
        row("98: PortName COM4", "Windows98", kCableKey, portName, QByteArray("COM4\0", 5), 4);
        row("2000: VCP0 COM12", "WindowsNT", kSerialComm, vcp0, QByteArray("COM12\0", 6), 12);
        row("95 uses SerialComm", "Windows95", kSerialComm, vcp0, QByteArray("COM3\0", 5), 3);
        row("unknown family uses SerialComm", "", kSerialComm, vcp0, QByteArray("COM7\0", 5), 7);
        row("text after the NUL ignored", "WindowsNT", kSerialComm, vcp0,
            QByteArray("COM5") + '\0' + "9" + '\0', 5);
        row("without a NUL", "WindowsNT", kSerialComm, vcp0, QByteArray("COM6"), 6);
        row("highest port", "WindowsNT", kSerialComm, vcp0, QByteArray("COM255\0", 7), 255);
        row("COM0", "WindowsNT", kSerialComm, vcp0, QByteArray("COM0\0", 5), 0);
        row("COM256", "WindowsNT", kSerialComm, vcp0, QByteArray("COM256\0", 7), 0);
        row("COMX", "WindowsNT", kSerialComm, vcp0, QByteArray("COMX\0", 5), 0);
        row("CO", "WindowsNT", kSerialComm, vcp0, QByteArray("CO\0", 3), 0);
        row("LPT1", "WindowsNT", kSerialComm, vcp0, QByteArray("LPT1\0", 5), 0);
        row("COM1X", "WindowsNT", kSerialComm, vcp0, QByteArray("COM1X\0", 6), 0);
        row("98: cable key missing, SerialComm present", "Windows98", kSerialComm, vcp0,
            QByteArray("COM3\0", 5), 0);
        row("NT: only the 98 cable key", "WindowsNT", kCableKey, portName, QByteArray("COM4\0", 5), 0);
        row("98: key without PortName", "Windows98", kCableKey, QStringLiteral("Other"),
            QByteArray("COM4\0", 5), 0);
        row("family name is exact", "windows98", kCableKey, portName, QByteArray("COM4\0", 5), 0);
        row("nothing stored", "WindowsNT", QString(), QString(), QByteArray(), 0);
    }
    void registry() {
        QFETCH(QString, family);
        QFETCH(QString, path);
        QFETCH(QString, name);
        QFETCH(QByteArray, data);
        QFETCH(int, number);

        InMemoryRegistry store;
        if (!path.isEmpty())
            store.SetValue(path, name, RegistryString, data);
        CountingRegistry registry(store);
        DeviceState device;
        device.InterfacePortNumber = 9;  // from an earlier search
        device.InterfacePortName = QStringLiteral("COM9");

        QCOMPARE(FindInterfacePort(device, registry, family), number != 0);
        QCOMPARE(int(device.InterfacePortNumber), number);
        QCOMPARE(device.InterfacePortName, number != 0 ? QStringLiteral("COM%1").arg(number) : QString());
        QCOMPARE(registry.opens.size(), 1);  // one location, never the other family's
        QCOMPARE(registry.opens.front(), family == QLatin1String("Windows98") ? kCableKey : kSerialComm);
        QCOMPARE(registry.closes, 1);
        QVERIFY(registry.open.empty());
        QCOMPARE(store.OpenKeyCount(), 0);
    }

    // The value vanishes between asking for its size and reading it.
    void registryReadFails() {
        InMemoryRegistry store;
        store.SetString(kSerialComm, QStringLiteral("\\Device\\VCP0"), QStringLiteral("COM3"));
        store.FailReads(kSerialComm, QStringLiteral("\\Device\\VCP0"), RegistryNotFound);
        CountingRegistry registry(store);
        DeviceState device;
        QVERIFY(!FindInterfacePort(device, registry, QStringLiteral("WindowsNT")));
        QCOMPARE(int(device.InterfacePortNumber), 0);
        QVERIFY(registry.open.empty());
        QCOMPARE(store.OpenKeyCount(), 0);
    }

    void usbIds_data() {
        QTest::addColumn<QList<SerialPortRecord>>("ports");
        QTest::addColumn<QString>("found");  // empty: none

        const SerialPortRecord serial0{QStringLiteral("/dev/ttyS0"), false, 0, 0};
        const auto cable = [](const char* path) {
            return SerialPortRecord{QString::fromLatin1(path), true, 0x0403, 0xF460};
        };
        QTest::newRow("no ports") << QList<SerialPortRecord>{} << QString();
        QTest::newRow("only a port without ids") << QList<SerialPortRecord>{serial0} << QString();
        QTest::newRow("one cable") << QList<SerialPortRecord>{serial0, cable("/dev/ttyUSB1")}
                                   << QStringLiteral("/dev/ttyUSB1");
        QTest::newRow("other FTDI product")
            << QList<SerialPortRecord>{{QStringLiteral("/dev/ttyUSB0"), true, 0x0403, 0x6001}} << QString();
        QTest::newRow("other vendor, same product")
            << QList<SerialPortRecord>{{QStringLiteral("/dev/ttyUSB0"), true, 0x10C4, 0xF460}} << QString();
        QTest::newRow("ids not known, values left over")
            << QList<SerialPortRecord>{{QStringLiteral("/dev/ttyUSB0"), false, 0x0403, 0xF460}} << QString();
        QTest::newRow("others ignored")
            << QList<SerialPortRecord>{{QStringLiteral("/dev/ttyACM0"), true, 0x2341, 0x0043},
                                       cable("/dev/ttyUSB3")}
            << QStringLiteral("/dev/ttyUSB3");
        QTest::newRow("several: first by name")
            << QList<SerialPortRecord>{cable("/dev/ttyUSB4"), cable("/dev/ttyUSB1"), cable("/dev/ttyUSB3")}
            << QStringLiteral("/dev/ttyUSB1");
        QTest::newRow("several: numbers compare as numbers")
            << QList<SerialPortRecord>{cable("/dev/ttyUSB10"), cable("/dev/ttyUSB2")}
            << QStringLiteral("/dev/ttyUSB2");
    }
    void usbIds() {
        QFETCH(QList<SerialPortRecord>, ports);
        QFETCH(QString, found);

        DeviceState device;
        device.InterfacePortName = QStringLiteral("/dev/old");
        device.InterfacePortNumber = 4;
        QCOMPARE(FindInterfacePort(device, std::span<const SerialPortRecord>(ports)), !found.isEmpty());
        QCOMPARE(device.InterfacePortName, found);
        QCOMPARE(int(device.InterfacePortNumber), 0);

        // The order of the list does not change the choice.
        std::reverse(ports.begin(), ports.end());
        DeviceState again;
        FindInterfacePort(again, std::span<const SerialPortRecord>(ports));
        QCOMPARE(again.InterfacePortName, found);
    }
};

QTEST_GUILESS_MAIN(TestPortDiscovery)
#include "test_port_discovery.moc"
