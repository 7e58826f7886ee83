// Finding and opening the interface cable's port: the search, the choice among several cables, the causes
// named when the port cannot be used, and the list of ports --list-ports prints; all on the system's lookups,
// faked.
#include <QtTest>
#include <sstream>

#include "app/list_ports.h"
#include "fakes/recording_view.h"
#include "fakes/rows.h"
#include "link/cable_diagnosis.h"
#include "link/port_discovery.h"
#include "support/in_memory_registry.h"
#include "support/text_database.h"
#include "wizard/cable_check.h"
#include "wizard/front/terminal_view.h"

namespace {

// The port named by the user ("": searched), the cable found per search, the opens refused with the system's
// words, the answers to the boxes; the result, the searches, the ports opened, the boxes shown; whether the
// cable was pulled while a page waited (two tries to reconnect).
using CableSearches =
    Rows<QString, QList<bool>, QStringList, QList<BoxAnswer>, bool, int, QStringList, QStringList, bool>;

// registry: family, path (where the value is stored), name, data (stored as a string value, bytes as given),
// number (0: not found).
using RegistryCases = Rows<QString, QString, QString, QByteArray, int>;

// causes: found, code (how the open failed), system (as FakeSystem reads it), says, plug (the hint asks to
// plug the cable in, else to try again).
using CauseCases = Rows<bool, int, QString, QString, bool>;

// severalCables: port, chosen (the window's answer, -1 Cancel; -2 the terminal's view), opened.
using SeveralCableCases = Rows<QString, int, QString>;

// listPorts: system (as FakeSystem reads it), lines, exitStatus.
using ListPortCases = Rows<QString, QStringList, int>;

// cablesInRegistry: entries, cables ("COMn serial", lowest port first), ports (--list-ports: "COMn" or "COMn
// serial" for a cable's).
using RegistryCableCases = Rows<QStringList, QStringList, QStringList>;
using UsbIdCases = Rows<QList<SerialPortRecord>, QStringList>;

// Finds the cable at the searches the script says; no cable once it runs out.
class ScriptedFinder final : public CableFinder {
public:
    bool Find(CablePort& device) override {
        const bool present = script.value(calls++);
        device.InterfacePortName = present ? QStringLiteral("/dev/ttyUSB0") : QString();
        return present;
    }
    std::vector<FoundCable> Found() const override { return found; }
    QList<bool> script;
    qsizetype calls = 0;
    std::vector<FoundCable> found;
};

// Refuses the first opens with the system's words given, then opens.
class ScriptedOpener final : public PortOpener {
public:
    bool Open(const QString& name, PortOpenError* error) override {
        names << name;
        open = names.size() > refusals.size();
        if (!open)
            *error = {code, refusals[names.size() - 1]};
        return open;
    }
    bool IsOpen() const override { return open; }
    QStringList refusals;
    PortOpenFailure code = PortOpenFailure::Other;
    QStringList names;
    bool open = false;
};

// The system's answers, as a table row gives them.
class FakePortSystem final : public PortSystem {
public:
    std::vector<SerialPortRecord> SerialPorts() const override { return ports; }
    std::vector<UsbDeviceRecord> UsbDevices() const override { return usb; }
    DeviceNodeRecord DeviceNode(const QString&) const override { return node; }
    std::vector<PortLockRecord> PortLocks(const QString&) const override { return locks; }
    std::vector<ProcessRecord> Processes(const QString&) const override { return processes; }
    std::vector<SerialPortRecord> ports{{QStringLiteral("/dev/ttyS0"), false, 0, 0, {}, {}}};
    std::vector<UsbDeviceRecord> usb{{0x0403, 0x6001, {}, QStringLiteral("FTOTHER")}};  // not the cable
    DeviceNodeRecord node{true, true, QStringLiteral("dialout")};
    std::vector<PortLockRecord> locks;
    std::vector<ProcessRecord> processes;
};

// items, separated by ";": "port PATH SERIAL [BY-ID]" a cable's port, "usb [TTY...]" the cable's USB device
// (serial FT0USB), "ro [GROUP]" or "gone" the device file, "lock PID [PROGRAM [cable]]", "proc PID NAME
// holds|-".
FakePortSystem FakeSystem(const QString& items) {
    FakePortSystem fake;
    for (const QString& item : items.split(u';', Qt::SkipEmptyParts)) {
        const QStringList w = item.split(u' ');
        if (w[0] == "port")
            fake.ports.push_back({w[1], true, 0x0403, 0xF460, w[2], w.value(3)});
        else if (w[0] == "usb")
            fake.usb.push_back({0x0403, 0xF460, w.mid(1), QStringLiteral("FT0USB")});
        else if (w[0] == "ro" || w[0] == "gone")
            fake.node = {w[0] == "ro", false, w.value(1, QStringLiteral("dialout"))};
        else if (w[0] == "lock")
            fake.locks.push_back({w[1].toLongLong(), {}, w.value(3) == "cable"});
        else
            fake.processes.push_back({w[1].toLongLong(), w[2], w[3] == "holds"});
    }
    return fake;
}

const QString kPlug = QStringLiteral(
    "\r\nPlug the cable into a USB port of the PC and click OK to search again, or click Cancel to quit.");
const QString kRetry = QStringLiteral("\r\nClick OK to try again, or click Cancel to quit.");
const QString kNotFound =
    "The USB interface cable was not found.\r\n"
    "Is the cable plugged in? Then lsusb shows \"ID 0403:f460 ...\".\r\n"
    "Logged in over SSH? The rule 70-kav-interface.rules gives only the user at the computer access.\r\n"
    "Other users need the group dialout: sudo usermod -aG dialout $USER, then log in again.\r\n"
    "--port /dev/serial/by-id/... names the cable's port directly.\r\n"
    "--simulate tries the wizard without a DC." +
    kPlug;
QString NotOpened(const char* port, const char* reason) {
    return QStringLiteral("The cable's port %1 was found but could not be opened: %2.").arg(port, reason) +
           kRetry;
}

const QString kCableKey = QStringLiteral("Enum\\FTDIBUS\\VID_0403+PID_F460+20030001A\\0000");
const QString kSerialComm = QStringLiteral("Hardware\\DeviceMap\\SerialComm");

}  // namespace

class TestCable : public QObject {
    Q_OBJECT

    TextDatabase texts_;

private slots:
    void initTestCase() {
        QCOMPARE(texts_.Open(qEnvironmentVariable("KAV_TEST_LNG"), 1), TextDatabase::OpenResult::Ok);
    }

    void testInterface_data() {
        CableSearches rows;
        const QString usb0 = QStringLiteral("/dev/ttyUSB0"), xyz = QStringLiteral("/dev/ttyXYZ");
        rows.Add("cable present", "", {true}, {}, {}, true, 1, {usb0}, {}, false);
        // Nothing to open while the cable is missing.
        rows.Add("plugged in after the box", "", {false, true}, {}, {BoxAnswer::Ok}, true, 2, {usb0},
                 {kNotFound}, false);
        // The cable would be there: the user's answer comes first.
        rows.Add("cancel", "", {false, true}, {}, {BoxAnswer::Cancel}, false, 1, {}, {kNotFound}, false);
        rows.Add("box closed otherwise", "", {false, true}, {}, {BoxAnswer::None}, false, 1, {}, {kNotFound},
                 false);
        rows.Add("found but refused", "", {true, true}, {"Input/output error"}, {BoxAnswer::Ok}, true, 2,
                 {usb0, usb0}, {NotOpened("/dev/ttyUSB0", "Input/output error")}, false);
        // The reason names what the user cannot: a "%1" in it stays as it is.
        rows.Add("reason with a percent sign", "", {true}, {"error %1 50% done"}, {BoxAnswer::Cancel}, false,
                 1, {usb0}, {NotOpened("/dev/ttyUSB0", "error %1 50% done")}, false);
        rows.Add("given port", "/dev/pts/7", {}, {}, {}, true, 0, {"/dev/pts/7"}, {}, false);
        rows.Add("given port refused", "/dev/ttyXYZ", {}, {"there is no such device"}, {BoxAnswer::Ok}, true,
                 0, {xyz, xyz}, {NotOpened("/dev/ttyXYZ", "there is no such device")}, false);
        // Said before any command is tried; Cancel stays on the page, and the next try asks again.
        const QString gone =
            "The interface cable was unplugged while the wizard waited: its port /dev/ttyUSB0 is gone."
            "\r\nPlug the cable in again and click OK, or click Cancel to stay on this page.";
        rows.Add("unplugged while waiting, OK", "", {true}, {}, {BoxAnswer::Ok}, true, 1, {usb0}, {gone},
                 true);
        rows.Add("unplugged while waiting, Cancel", "", {true}, {}, {BoxAnswer::Cancel}, false, 0, {},
                 {gone, gone}, true);
    }
    void testInterface() {
        const auto& [port, found, refusals, answers, result, searches, opened, boxes, reconnect] =
            CableSearches::Fetch();
        CablePort device;
        ScriptedFinder finder;
        finder.script = found;
        ScriptedOpener opener;
        opener.refusals = refusals;
        RecordingView view;
        view.answers.assign(answers.begin(), answers.end());
        FakePortSystem system;
        CableCheck cable(device, finder, opener, system, view, texts_, port);
        if (reconnect) {
            device.InterfacePortName = QStringLiteral("/dev/ttyUSB0");
            QCOMPARE(cable.Reconnect(), result);
        }

        QCOMPARE(reconnect ? cable.Reconnect() : cable.TestInterface(), result);
        QCOMPARE(int(finder.calls), searches);
        QCOMPARE(opener.names, opened);
        QStringList shown;
        for (const auto& box : view.boxes)
            shown << (box.title == "Interface cable" && box.style == kBoxOkCancelCritical
                          ? box.text
                          : "(other title or style)");
        QCOMPARE(shown, boxes);
        if (result)
            QCOMPARE(device.InterfacePortName, opened.last());
    }

    // Each cause of an unusable port, as the system lookups show it, named in the box with what to do.
    void causes_data() {
        CauseCases rows;
        const auto row = [&rows](const char* tag, bool found, PortOpenFailure code, const char* system,
                                 const char* says, bool plug = false) {
            rows.Add(tag, found, int(code), QString::fromLatin1(system), QString::fromUtf8(says), plug);
        };
        const auto denied = PortOpenFailure::NoPermission;
        row("no driver", false, {}, "usb", "no serial port appeared for it");
        row("cable with a port, not listed", false, {}, "usb ttyUSB0", "cable was not found.", true);
        row("no access", true, denied, "ro", "belongs to the group \"dialout\"");
        row("no access, root's device", true, denied, "ro root", "could not be opened: busy.");
        row("second kav-update", true, denied, "lock 4242 x cable;proc 4242 kav-update -",
            "port /dev/ttyUSB0 is already in use by kav-update (process 4242).");
        row("stale lock, descriptor owner", true, denied,
            "lock 4242 x cable;proc 300 ModemManager -;proc 77 minicom holds",
            "in use by minicom (process 77)");
        row("lock file by pid only", true, denied, "lock 555;proc 555 screen -",
            "in use by screen (process 555)");
        row("ModemManager, descriptors hidden", true, denied, "proc 300 ModemManager -",
            "ModemManager (process 300)");
        row("brltty", true, denied, "proc 88 brltty -", "brltty (process 88), the braille");
        row("holder unknown", true, denied, "proc 12 bash -", "in use by another program");
        row("vanished before the open", true, PortOpenFailure::NotFound, "",
            "unplugged while the wizard waited: its port /dev/ttyUSB0 is gone", true);
        row("denied, then gone", true, denied, "gone", "its port /dev/ttyUSB0 is gone", true);
    }
    void causes() {
        const auto& [found, code, system, says, plug] = CauseCases::Fetch();
        const FakePortSystem fake = FakeSystem(system);
        ScriptedFinder finder;
        finder.script = {found};
        ScriptedOpener opener;
        opener.code = PortOpenFailure(code);
        opener.refusals = {QStringLiteral("busy")};
        RecordingView view;
        CablePort device;

        QVERIFY(!CableCheck(device, finder, opener, fake, view, texts_).TestInterface());
        QCOMPARE(view.boxes.size(), std::size_t(1));
        QVERIFY2(view.boxes[0].text.contains(says), qPrintable(view.boxes[0].text));
        QCOMPARE(view.boxes[0].text.split(QStringLiteral("\r\n")).last(), (plug ? kPlug : kRetry).mid(2));
    }

    void registry_data() {
        RegistryCases rows;
        const QString portName = QStringLiteral("PortName");
        const QString vcp0 = QStringLiteral("\\Device\\VCP0");
        rows.Add("98: PortName COM4", "Windows98", kCableKey, portName, QByteArrayLiteral("COM4\0"), 4);
        rows.Add("NT: VCP0 COM12", "WindowsNT", kSerialComm, vcp0, QByteArrayLiteral("COM12\0"), 12);
        rows.Add("text after the NUL ignored", "WindowsNT", kSerialComm, vcp0,
                 QByteArrayLiteral("COM5\0009\0"), 5);
        rows.Add("without a NUL", "WindowsNT", kSerialComm, vcp0, QByteArrayLiteral("COM6"), 6);
        rows.Add("highest port", "WindowsNT", kSerialComm, vcp0, QByteArrayLiteral("COM255\0"), 255);
        rows.Add("COM256", "WindowsNT", kSerialComm, vcp0, QByteArrayLiteral("COM256\0"), 0);
        rows.Add("COM1X", "WindowsNT", kSerialComm, vcp0, QByteArrayLiteral("COM1X\0"), 0);
        // Each family reads its own location only.
        rows.Add("98: cable key missing, SerialComm present", "Windows98", kSerialComm, vcp0,
                 QByteArrayLiteral("COM3\0"), 0);
        rows.Add("NT: only the 98 cable key", "WindowsNT", kCableKey, portName, QByteArrayLiteral("COM4\0"),
                 0);
        rows.Add("98: key without PortName", "Windows98", kCableKey, QStringLiteral("Other"),
                 QByteArrayLiteral("COM4\0"), 0);
    }
    void registry() {
        const auto& [family, path, name, data, number] = RegistryCases::Fetch();

        InMemoryRegistry store;
        store.RefuseWriteAccess();  // a normal user's rights: the cable is found all the same
        store.SetValue(path, name, RegistryString, data);
        CablePort device;
        device.InterfacePortNumber = 9;  // from an earlier search
        device.InterfacePortName = QStringLiteral("COM9");

        QCOMPARE(FindInterfacePort(device, store, family), number != 0);
        QCOMPARE(int(device.InterfacePortNumber), number);
        QCOMPARE(device.InterfacePortName, number != 0 ? QStringLiteral("COM%1").arg(number) : QString());
        QCOMPARE(store.OpenKeyCount(), 0);  // closed on every path
        QCOMPARE(store.AccessRequested(), QList<quint32>{RegistryKeyRead});
    }

    // Windows: the driver's key of each device with the cable's USB ids names its port; SerialComm lists the
    // ports present now. Entries: "device=PORT" under the driver's key, "+PORT" in SerialComm.
    void cablesInRegistry_data() {
        RegistryCableCases rows;
        const QString cable = "VID_0403+PID_F460+";
        rows.Add("one cable", {cable + "KAV00042A=COM7", "+COM7", "+COM1"}, {"COM7 KAV00042"},
                 {"COM7 KAV00042", "COM1"});
        rows.Add("unplugged since", {cable + "KAV00042A=COM7", "+COM1"}, {}, {"COM1"});
        rows.Add("two, by port number", {cable + "A1A=COM12", cable + "B2A=COM3", "+COM12", "+COM3"},
                 {"COM3 B2", "COM12 A1"}, {"COM12 A1", "COM3 B2"});
        rows.Add("other FTDI product, lower case ids",
                 {"VID_0403+PID_6001+X9A=COM4", "vid_0403+pid_f460+K1A=COM5", "+COM4", "+COM5"}, {"COM5 K1"},
                 {"COM4", "COM5 K1"});
    }
    void cablesInRegistry() {
        const auto& [entries, cables, ports] = RegistryCableCases::Fetch();
        InMemoryRegistry store;
        store.RefuseWriteAccess();
        store.AddKey(QString::fromLatin1(kSerialCommKey));
        int value = 0;
        for (const QString& entry : entries) {
            if (entry.startsWith('+'))
                store.SetString(kSerialCommKey, QString("\\Device\\VCP%1").arg(value++), entry.mid(1));
            else
                store.SetString(QString(kUsbSerialDevicesKey) + '\\' + entry.section('=', 0, 0) +
                                    "\\0000\\Device Parameters",
                                "PortName", entry.section('=', 1));
        }
        QStringList found, listed;
        for (const FoundCable& c : FindCablesInRegistry(store)) {
            found << c.port.InterfacePortName + ' ' + c.serialNumber;
            // Where its latency timer is kept.
            QVERIFY(DriverKeyOfPort(store, c.port.InterfacePortName)
                        .endsWith(c.serialNumber + "A\\0000\\Device Parameters", Qt::CaseInsensitive));
        }
        QVERIFY(DriverKeyOfPort(store, "COM1").isEmpty());
        for (const SerialPortRecord& port : SerialPortsInRegistry(store))
            listed << (port.hasIds && IsCable(port.vendor, port.product)
                           ? port.systemLocation + ' ' + port.serialNumber
                           : port.systemLocation);
        QCOMPARE(found, cables);
        QCOMPARE(listed, ports);
        QCOMPARE(store.OpenKeyCount(), 0);
    }

    void usbIds_data() {
        UsbIdCases rows;

        const auto port = [](const char* path, bool hasIds = false, quint16 vendor = 0, quint16 product = 0) {
            return SerialPortRecord{QString::fromLatin1(path), hasIds, vendor, product, {}, {}};
        };
        const auto cable = [&port](const char* path) { return port(path, true, 0x0403, 0xF460); };
        const auto row = [&rows](const char* tag, const QList<SerialPortRecord>& ports,
                                 const QStringList& found) { rows.Add(tag, ports, found); };
        row("one cable", {port("/dev/ttyS0"), cable("/dev/ttyUSB1")}, {"/dev/ttyUSB1"});
        row("other FTDI product", {port("/dev/ttyUSB0", true, 0x0403, 0x6001)}, {});
        row("other vendor, same product", {port("/dev/ttyUSB0", true, 0x10C4, 0xF460)}, {});
        row("ids not known, values left over", {port("/dev/ttyUSB0", false, 0x0403, 0xF460)}, {});
        row("several: by name", {cable("/dev/ttyUSB4"), cable("/dev/ttyUSB1"), cable("/dev/ttyUSB3")},
            {"/dev/ttyUSB1", "/dev/ttyUSB3", "/dev/ttyUSB4"});
        row("several: numbers compare as numbers", {cable("/dev/ttyUSB10"), cable("/dev/ttyUSB2")},
            {"/dev/ttyUSB2", "/dev/ttyUSB10"});
    }
    void usbIds() {
        const auto& [ports, cables] = UsbIdCases::Fetch();
        QStringList found;
        for (const SerialPortRecord& cable : CablePortsIn(std::span<const SerialPortRecord>(ports)))
            found << cable.systemLocation;
        QCOMPARE(found, cables);
    }

    // Of several cables the window lets the user pick one; the terminal lists them for --port and gives up.
    // Either way no box follows: giving up here is Cancel at the cable box.
    void severalCables_data() {
        SeveralCableCases rows;
        rows.Add("window: the second", "", 1, "/dev/ttyUSB3");
        rows.Add("window: cancel", "", -1, "");
        rows.Add("terminal", "", -2, "");
        rows.Add("--port wins", "/dev/ttyUSB9", -2, "/dev/ttyUSB9");
    }
    void severalCables() {
        const auto& [port, chosen, opened] = SeveralCableCases::Fetch();
        const QString byId = QStringLiteral("/dev/serial/by-id/usb-FTDI_KAV_FT01-if00-port0");
        ScriptedFinder finder;
        finder.script = {true};
        finder.found = {{{0, QStringLiteral("/dev/ttyUSB0")}, QStringLiteral("FT01"), byId},
                        {{0, QStringLiteral("/dev/ttyUSB3")}, QString(), QString()}};
        ScriptedOpener opener;
        RecordingView window;
        if (chosen >= 0)
            window.chosenCable = chosen;
        std::istringstream in("\n\n");
        std::ostringstream out, err;
        TerminalSetup setup;
        setup.errors = &err;
        TerminalView terminal(in, out, setup);
        FakePortSystem system;
        CablePort device;
        CableCheck cable(device, finder, opener, system,
                         chosen == -2 ? static_cast<WizardView&>(terminal) : window, texts_, port);

        QCOMPARE(cable.TestInterface(), !opened.isEmpty());
        QCOMPARE(opener.names, opened.isEmpty() ? QStringList() : QStringList(opened));
        QVERIFY(window.boxes.empty() && out.str().empty());
        const QStringList listed{"Serial number FT01: " + byId, "Serial number -: /dev/ttyUSB3"};
        if (chosen != -2) {
            QCOMPARE(window.cableChoices.size(), std::size_t(1));
            QCOMPARE(window.cableChoices[0].cables, listed);
            QCOMPARE(window.cableChoices[0].question,
                     "Several USB interface cables are plugged in. Which one shall the wizard use?");
        } else {
            QCOMPARE(QString::fromStdString(err.str()),
                     port.isEmpty()
                         ? "[Interface cable] Several USB interface cables are plugged in. Name the "
                           "one to use with --port DEVICE:\n  " +
                               listed.join("\n  ") + "\n"
                         : QString());
        }
    }

    // --list-ports: a line per port that could be the cable, from the lookups alone; 0 only for exactly one
    // usable cable.
    void listPorts_data() {
        ListPortCases rows;
        const QString usb0 =
            "/dev/ttyUSB0\t/dev/serial/by-id/usb-FTDI_KAV_FT01-if00-port0\t0403:f460\tFT01\t";
        const QString port = "port /dev/ttyUSB0 FT01 /dev/serial/by-id/usb-FTDI_KAV_FT01-if00-port0";
        rows.Add("none", "", {}, 1);
        // ModemManager merely running holds nothing.
        rows.Add("one usable", port + ";usb ttyUSB0;proc 300 ModemManager -", {usb0 + "usable"}, 0);
        rows.Add("busy", port + ";lock 77;proc 77 minicom -", {usb0 + "busy, held by minicom (process 77)"},
                 1);
        rows.Add("stale lock, descriptor", port + ";lock 76;proc 78 kav-update holds",
                 {usb0 + "busy, held by kav-update (process 78)"}, 1);
        rows.Add("no permission", port + ";ro dialout",
                 {usb0 + "no permission: the device belongs to group dialout; the rule "
                         "70-kav-interface.rules gives the user at the computer access"},
                 1);
        rows.Add("no driver", "usb",
                 {"-\t-\t0403:f460\tFT0USB\tno driver bound: the USB device has "
                  "no serial port; the rule 70-kav-interface.rules loads the "
                  "driver"},
                 1);
        rows.Add("two cables", "port /dev/ttyUSB10 FT10;port /dev/ttyUSB2 FT02",
                 {"/dev/ttyUSB2\t-\t0403:f460\tFT02\tusable", "/dev/ttyUSB10\t-\t0403:f460\tFT10\tusable"},
                 1);
    }
    void listPorts() {
        const auto& [system, lines, exitStatus] = ListPortCases::Fetch();
        std::ostringstream out, err;
        const int status = ListPorts(FakeSystem(system), out, err);
        QCOMPARE(QString::fromStdString(out.str()).split(u'\n', Qt::SkipEmptyParts), lines);
        QCOMPARE(status, exitStatus);
    }

    // The udev rule names the cable the program looks for: in each of its three matches and in the id it
    // gives the driver, or the user at the seat gets no access to the port.
    void udevRuleNamesTheCable() {
        QFile rule(KAV_SOURCE_DIR "/packaging/70-kav-interface.rules");
        QVERIFY(rule.open(QIODevice::ReadOnly));
        const QString text = QString::fromLatin1(rule.readAll());
        const QString vendor = QString::number(kCableVendorId, 16).rightJustified(4, u'0'),
                      product = QString::number(kCableProductId, 16).rightJustified(4, u'0');
        static const QRegularExpression pair(R"re(idVendor\}=="(\w+)", ATTRS?\{idProduct\}=="(\w+)")re");
        int matches = 0;
        for (auto m = pair.globalMatch(text); m.hasNext(); ++matches) {
            const auto match = m.next();
            QCOMPARE(match.captured(1) + ':' + match.captured(2), vendor + ':' + product);
        }
        QCOMPARE(matches, 3);
        QVERIFY(text.contains("echo " + vendor + ' ' + product + " > "));
    }
};

QTEST_GUILESS_MAIN(TestCable)
#include "test_cable.moc"
