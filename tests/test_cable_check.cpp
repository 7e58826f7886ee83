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

// Refuses the first opens with the reasons given, then opens.
class ScriptedOpener final : public PortOpener {
public:
    bool Open(const QString& name, QString* error) override {
        names << name;
        if (names.size() > refusals.size())
            return true;
        *error = refusals[names.size() - 1];
        return false;
    }
    QStringList refusals;
    QStringList names;
};

const QString kPlug = QStringLiteral(
    "\r\nPlug the cable into a USB port of the PC and click OK to search again, or click Cancel to quit.");
const QString kNotFound = "The USB interface cable was not found." + kPlug;
QString NotOpened(const char* port, const char* reason) {
    return QStringLiteral("The cable's port %1 was found but could not be opened: %2.").arg(port, reason) +
           kPlug;
}

}  // namespace

class TestCableCheck : public QObject {
    Q_OBJECT

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
        row("found but busy", "", {true, true}, "it is in use by another program", {IdOk}, true, 2,
            {usb0, usb0}, {NotOpened("/dev/ttyUSB0", "it is in use by another program")});
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
        TextDatabase texts;
        QCOMPARE(texts.Open(qEnvironmentVariable("KAV_TEST_LNG"), 1), TextDatabase::OpenResult::Ok);

        QCOMPARE(CableCheck(device, finder, opener, view, texts, port).TestInterface(), result);
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
};

QTEST_GUILESS_MAIN(TestCableCheck)
#include "test_cable_check.moc"
