// The start-up cable check: search, open, and the box that asks for the cable.
#include <QtTest>

#include "fakes/recording_view.h"
#include "support/text_database.h"
#include "wizard/cable_check.h"

namespace {

// Finds the cable at the searches the script says; no cable once it runs out.
class ScriptedFinder final : public CableFinder {
public:
    bool Find(DeviceState& device) override {
        const bool present = calls < script.size() && script[calls];
        ++calls;
        device.InterfacePortName = present ? QStringLiteral("/dev/ttyUSB0") : QString();
        return present;
    }
    QList<bool> script;
    qsizetype calls = 0;
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
    QSerialPort::SerialPortError code = QSerialPort::OpenError;
    QStringList names;
    bool open = false;
};

// The system's answers, as a table row gives them.
class FakePortSystem final : public PortSystem {
public:
    std::vector<UsbDeviceRecord> UsbDevices() const override { return usb; }
    DeviceNodeRecord DeviceNode(const QString&) const override { return node; }
    std::vector<PortLockRecord> PortLocks(const QString&) const override { return locks; }
    std::vector<ProcessRecord> Processes(const QString&) const override { return processes; }
    std::vector<UsbDeviceRecord> usb;
    DeviceNodeRecord node{true, true, QStringLiteral("dialout")};
    std::vector<PortLockRecord> locks;
    std::vector<ProcessRecord> processes;
};

const QString kPlug = QStringLiteral(
    "\r\nPlug the cable into a USB port of the PC and click OK to search again, or click Cancel to quit.");
const QString kRetry = QStringLiteral("\r\nClick OK to try again, or click Cancel to quit.");
const QString kNotFound = "The USB interface cable was not found." + kPlug;
QString NotOpened(const char* port, const char* reason) {
    return QStringLiteral("The cable's port %1 was found but could not be opened: %2.").arg(port, reason) +
           kRetry;
}

}  // namespace

class TestCableCheck : public QObject {
    Q_OBJECT

    TextDatabase texts_;
    const TextDatabase& Texts(int language) {
        texts_.Close();
        if (texts_.Open(qEnvironmentVariable("KAV_TEST_LNG"), language) != TextDatabase::OpenResult::Ok)
            qFatal("no text database");
        return texts_;
    }

private slots:
    void testInterface_data() {
        QTest::addColumn<QString>("port");       // named by the user
        QTest::addColumn<QList<bool>>("found");  // per search
        QTest::addColumn<QStringList>("refusals");
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<bool>("result");
        QTest::addColumn<int>("searches");
        QTest::addColumn<QStringList>("opened");
        QTest::addColumn<QStringList>("boxes");
        const QString usb0 = QStringLiteral("/dev/ttyUSB0"), xyz = QStringLiteral("/dev/ttyXYZ");
        const auto row = [](const char* tag, const char* port, QList<bool> found, const char* refusal,
                            QList<int> answers, bool result, int searches, QStringList opened,
                            QStringList boxes) {
            QTest::newRow(tag) << QString::fromLatin1(port) << found
                               << (*refusal ? QStringList(QString::fromLatin1(refusal)) : QStringList())
                               << answers << result << searches << opened << boxes;
        };
        row("cable present", "", {true}, "", {}, true, 1, {usb0}, {});
        // Nothing to open while the cable is missing.
        row("plugged in after the box", "", {false, true}, "", {IdOk}, true, 2, {usb0}, {kNotFound});
        // The cable would be there: the user's answer comes first.
        row("cancel", "", {false, true}, "", {IdCancel}, false, 1, {}, {kNotFound});
        row("box closed otherwise", "", {false, true}, "", {0}, false, 1, {}, {kNotFound});
        row("found but refused", "", {true, true}, "Input/output error", {IdOk}, true, 2, {usb0, usb0},
            {NotOpened("/dev/ttyUSB0", "Input/output error")});
        // The reason names what the user cannot: a "%1" in it stays as it is.
        row("reason with a percent sign", "", {true}, "error %1 50% done", {IdCancel}, false, 1, {usb0},
            {NotOpened("/dev/ttyUSB0", "error %1 50% done")});
        row("given port", "/dev/pts/7", {}, "", {}, true, 0, {"/dev/pts/7"}, {});
        row("given port refused", "/dev/ttyXYZ", {}, "there is no such device", {IdOk}, true, 0, {xyz, xyz},
            {NotOpened("/dev/ttyXYZ", "there is no such device")});
    }
    void testInterface() {
        QFETCH(QString, port);
        QFETCH(QList<bool>, found);
        QFETCH(QStringList, refusals);
        QFETCH(QList<int>, answers);
        QFETCH(bool, result);
        QFETCH(QStringList, opened);
        DeviceState device;
        ScriptedFinder finder;
        finder.script = found;
        ScriptedOpener opener;
        opener.refusals = refusals;
        RecordingView view;
        view.answers.assign(answers.begin(), answers.end());
        FakePortSystem system;

        QCOMPARE(CableCheck(device, finder, opener, system, view, Texts(1), port).TestInterface(), result);
        QTEST(int(finder.calls), "searches");
        QCOMPARE(opener.names, opened);
        QStringList boxes;
        for (const auto& box : view.boxes) {
            boxes << box.text;
            QCOMPARE(box.title, QStringLiteral("Interface cable"));
            QCOMPARE(box.style, 17);
        }
        QTEST(boxes, "boxes");
        if (result)
            QCOMPARE(device.InterfacePortName, opened.last());
    }

    // Each cause of an unusable port, as the system lookups show it, named in the box with what to do.
    void causes_data() {
        QTest::addColumn<bool>("found");
        QTest::addColumn<int>("code");        // how the open failed
        QTest::addColumn<QString>("system");  // "usb" a cable without a port, "usb ttyUSB0" one with,
                                              // "ro"/"gone" the device file, "lock PID PROGRAM|cable",
                                              // "proc PID NAME holds|-"; items separated by ";"
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("says");
        QTest::addColumn<QString>("hint");
        const auto row = [](const char* tag, bool found, QSerialPort::SerialPortError code,
                            const char* system, const char* says, const QString& hint, int language = 1) {
            QTest::newRow(tag) << found << int(code) << QString::fromLatin1(system) << language
                               << QString::fromUtf8(says) << hint;
        };
        const auto denied = QSerialPort::PermissionError;
        const QString retry = kRetry.mid(2);
        row("no driver", false, {}, "usb", "no serial port appeared for it", retry);
        row("cable with a port, not listed", false, {}, "usb ttyUSB0", "cable was not found.", kPlug.mid(2));
        row("no access", true, denied, "ro", "belongs to the group \"dialout\"", retry);
        row("no access, root's device", true, denied, "ro root", "could not be opened: busy.", retry);
        row("second kav-update", true, denied, "lock 4242 x cable;proc 4242 kav-update -",
            "port /dev/ttyUSB0 is already in use by kav-update (process 4242).", retry);
        row("second kav-update, German", true, denied, "lock 4242 x cable;proc 4242 kav-update -",
            "wird bereits von kav-update (Prozess 4242) benutzt",
            "Klicken Sie auf OK, um es erneut zu "
            "versuchen, oder auf Abbrechen, um zu beenden.",
            2);
        row("stale lock, descriptor owner", true, denied,
            "lock 4242 x cable;proc 300 ModemManager -;proc 77 minicom holds",
            "in use by minicom (process 77)", retry);
        row("lock file by pid only", true, denied, "lock 555;proc 555 screen -",
            "in use by screen (process 555)", retry);
        row("ModemManager holds it", true, denied, "proc 1 systemd -;proc 300 ModemManager holds",
            "ModemManager (process 300)", retry);
        row("ModemManager, descriptors hidden", true, denied, "proc 300 ModemManager -",
            "ModemManager (process 300)", retry);
        row("brltty", true, denied, "proc 88 brltty -", "brltty (process 88), the braille", retry);
        row("holder unknown", true, denied, "proc 12 bash -", "in use by another program", retry);
        row("vanished before the open", true, QSerialPort::DeviceNotFoundError, "",
            "unplugged while the wizard waited: its port /dev/ttyUSB0 is gone", kPlug.mid(2));
        row("denied, then gone", true, denied, "gone", "its port /dev/ttyUSB0 is gone", kPlug.mid(2));
    }
    void causes() {
        QFETCH(bool, found);
        QFETCH(int, code);
        QFETCH(QString, system);
        QFETCH(int, language);
        FakePortSystem fake;
        for (const QString& item : system.split(u';', Qt::SkipEmptyParts)) {
            const QStringList w = item.split(u' ');
            if (w[0] == "usb")
                fake.usb.push_back({0x0403, 0xF460, w.mid(1)});
            else if (w[0] == "ro" || w[0] == "gone")
                fake.node = {w[0] == "ro", false, w.value(1, QStringLiteral("dialout"))};
            else if (w[0] == "lock")
                fake.locks.push_back({w[1].toLongLong(), {}, w.value(3) == "cable"});
            else
                fake.processes.push_back({w[1].toLongLong(), w[2], w[3] == "holds"});
        }
        fake.usb.push_back({0x0403, 0x6001, {}});  // another FTDI device does not count
        ScriptedFinder finder;
        finder.script = {found};
        ScriptedOpener opener;
        opener.code = QSerialPort::SerialPortError(code);
        opener.refusals = {QStringLiteral("busy")};
        RecordingView view;
        DeviceState device;

        QVERIFY(!CableCheck(device, finder, opener, fake, view, Texts(language)).TestInterface());
        QCOMPARE(view.boxes.size(), std::size_t(1));
        QFETCH(QString, says);
        QVERIFY2(view.boxes[0].text.contains(says), qPrintable(view.boxes[0].text));
        QTEST(view.boxes[0].text.split(QStringLiteral("\r\n")).last(), "hint");
    }

    // The cable pulled while the user read a page: the box says so before any command is tried, and OK opens
    // the port again; Cancel leaves the wizard where it was, and the next try asks again.
    void vanishedWhileWaiting() {
        for (const int answer : {IdOk, IdCancel}) {
            DeviceState device;
            device.InterfacePortName = QStringLiteral("/dev/ttyUSB0");
            ScriptedFinder finder;
            finder.script = {true};
            ScriptedOpener opener;
            RecordingView view;
            view.answers = {answer, IdCancel};
            FakePortSystem system;
            CableCheck cable(device, finder, opener, system, view, Texts(1));

            QCOMPARE(cable.Reconnect(), answer == IdOk);
            QCOMPARE(
                view.boxes[0].text,
                "The interface cable was unplugged while the wizard waited: its port /dev/ttyUSB0 is gone."
                "\r\nPlug the cable in again and click OK, or click Cancel to stay on this page.");
            QCOMPARE(cable.Reconnect(), answer == IdOk);
            QCOMPARE(view.boxes.size(), std::size_t(answer == IdOk ? 1 : 2));
        }
    }
};

QTEST_GUILESS_MAIN(TestCableCheck)
#include "test_cable_check.moc"
