// Finding the cable's port: the registry locations by Windows family, and the USB ids elsewhere.
#include <QtTest>

#include "link/port_discovery.h"
#include "support/in_memory_registry.h"

Q_DECLARE_METATYPE(SerialPortRecord)

namespace {

const QString kCableKey = QStringLiteral("Enum\\FTDIBUS\\VID_0403+PID_F460+20030001A\\0000");
const QString kSerialComm = QStringLiteral("Hardware\\DeviceMap\\SerialComm");

}  // namespace

class TestPortDiscovery : public QObject {
    Q_OBJECT

private slots:
    void registry_data() {
        QTest::addColumn<QString>("family");
        QTest::addColumn<QString>("path");  // where the value is stored
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("data");  // stored as a string value, bytes as given
        QTest::addColumn<int>("number");       // 0: not found

        const QString portName = QStringLiteral("PortName");
        const QString vcp0 = QStringLiteral("\\Device\\VCP0");
        const auto row = [](const char* tag, const char* family, const QString& path, const QString& name,
                            const QByteArray& data, int number) {
            QTest::newRow(tag) << QString::fromLatin1(family) << path << name << data << number;
        };
        row("98: PortName COM4", "Windows98", kCableKey, portName, QByteArrayLiteral("COM4\0"), 4);
        row("NT: VCP0 COM12", "WindowsNT", kSerialComm, vcp0, QByteArrayLiteral("COM12\0"), 12);
        row("text after the NUL ignored", "WindowsNT", kSerialComm, vcp0, QByteArrayLiteral("COM5\0009\0"),
            5);
        row("without a NUL", "WindowsNT", kSerialComm, vcp0, QByteArrayLiteral("COM6"), 6);
        row("highest port", "WindowsNT", kSerialComm, vcp0, QByteArrayLiteral("COM255\0"), 255);
        row("COM256", "WindowsNT", kSerialComm, vcp0, QByteArrayLiteral("COM256\0"), 0);
        row("COM1X", "WindowsNT", kSerialComm, vcp0, QByteArrayLiteral("COM1X\0"), 0);
        // Each family reads its own location only.
        row("98: cable key missing, SerialComm present", "Windows98", kSerialComm, vcp0,
            QByteArrayLiteral("COM3\0"), 0);
        row("NT: only the 98 cable key", "WindowsNT", kCableKey, portName, QByteArrayLiteral("COM4\0"), 0);
        row("98: key without PortName", "Windows98", kCableKey, QStringLiteral("Other"),
            QByteArrayLiteral("COM4\0"), 0);
    }
    void registry() {
        QFETCH(QString, family);
        QFETCH(QString, path);
        QFETCH(QString, name);
        QFETCH(QByteArray, data);
        QFETCH(int, number);

        InMemoryRegistry store;
        store.RefuseWriteAccess();  // a normal user's rights: the cable is found all the same
        store.SetValue(path, name, RegistryString, data);
        DeviceState device;
        device.InterfacePortNumber = 9;  // from an earlier search
        device.InterfacePortName = QStringLiteral("COM9");

        QCOMPARE(FindInterfacePort(device, store, family), number != 0);
        QCOMPARE(int(device.InterfacePortNumber), number);
        QCOMPARE(device.InterfacePortName, number != 0 ? QStringLiteral("COM%1").arg(number) : QString());
        QCOMPARE(store.OpenKeyCount(), 0);  // closed on every path
        QCOMPARE(store.AccessRequested(), QList<quint32>{RegistryKeyRead});
    }

    void usbIds_data() {
        QTest::addColumn<QList<SerialPortRecord>>("ports");
        QTest::addColumn<QString>("found");  // empty: none

        const auto port = [](const char* path, bool hasIds = false, quint16 vendor = 0, quint16 product = 0) {
            return SerialPortRecord{QString::fromLatin1(path), hasIds, vendor, product};
        };
        const auto cable = [&port](const char* path) { return port(path, true, 0x0403, 0xF460); };
        const auto row = [](const char* tag, const QList<SerialPortRecord>& ports, const char* found) {
            QTest::newRow(tag) << ports << QString::fromLatin1(found);
        };
        row("one cable", {port("/dev/ttyS0"), cable("/dev/ttyUSB1")}, "/dev/ttyUSB1");
        row("other FTDI product", {port("/dev/ttyUSB0", true, 0x0403, 0x6001)}, "");
        row("other vendor, same product", {port("/dev/ttyUSB0", true, 0x10C4, 0xF460)}, "");
        row("ids not known, values left over", {port("/dev/ttyUSB0", false, 0x0403, 0xF460)}, "");
        row("several: first by name", {cable("/dev/ttyUSB4"), cable("/dev/ttyUSB1"), cable("/dev/ttyUSB3")},
            "/dev/ttyUSB1");
        row("several: numbers compare as numbers", {cable("/dev/ttyUSB10"), cable("/dev/ttyUSB2")},
            "/dev/ttyUSB2");
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
    }
};

QTEST_GUILESS_MAIN(TestPortDiscovery)
#include "test_port_discovery.moc"
