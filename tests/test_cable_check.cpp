// The start-up cable check: search, open, and the box that asks for the cable.
#include <QtTest>
#include <deque>

#include "fakes/recording_view.h"
#include "support/text_database.h"
#include "wizard/cable_check.h"

namespace {

// Finds the cable at the attempts the script says.
class ScriptedFinder final : public CableFinder {
public:
    bool Find(DeviceState& device) override {
        ++calls;
        const bool present = !script.empty() && script.front();
        if (!script.empty())
            script.pop_front();
        device.InterfacePortName = present ? QStringLiteral("/dev/ttyUSB0") : QString();
        return present;
    }
    std::deque<bool> script;  // one entry per search; missing entries: no cable
    int calls = 0;
};

// Opens or refuses as the script says.
class ScriptedOpener final : public PortOpener {
public:
    bool Open(const QString& name, QString* error) override {
        names << name;
        const QString refusal = refusals.empty() ? QString() : refusals.front();
        if (!refusals.empty())
            refusals.pop_front();
        if (refusal.isEmpty())
            return true;
        *error = refusal;
        return false;
    }
    std::deque<QString> refusals;  // one entry per open; empty text or missing entry: opened
    QStringList names;
};

const QString kNotFoundText = QStringLiteral(
    "The USB interface cable was not found.\r\n"
    "Plug the cable into a USB port of the PC and click OK to search again, or click Cancel to quit.");
const QString kTitle = QStringLiteral("Interface cable");

}  // namespace

class TestCableCheck : public QObject {
    Q_OBJECT

    DeviceState device_;
    ScriptedFinder finder_;
    ScriptedOpener opener_;
    RecordingView view_;
    TextDatabase texts_;

    CableCheck Check(const QString& portOverride = {}) {
        return CableCheck(device_, finder_, opener_, view_, texts_, portOverride);
    }

private slots:
    void init() {
        device_ = {};
        finder_ = {};
        opener_ = {};
        view_.boxes.clear();
        view_.answers.clear();
        QCOMPARE(texts_.Open(qEnvironmentVariable("KAV_TEST_LNG"), 1), TextDatabase::OpenResult::Ok);
    }
    void cleanup() { texts_.Close(); }

    void cablePresent() {
        finder_.script = {true};
        QVERIFY(Check().TestInterface());
        QCOMPARE(finder_.calls, 1);
        QCOMPARE(opener_.names, QStringList{QStringLiteral("/dev/ttyUSB0")});
        QVERIFY(view_.boxes.empty());
    }

    void pluggedInAfterTheBox() {
        finder_.script = {false, true};
        view_.answers = {IdOk};
        QVERIFY(Check().TestInterface());
        QCOMPARE(finder_.calls, 2);
        QCOMPARE(opener_.names.size(), 1);  // nothing to open while the cable is missing
        QCOMPARE(view_.boxes.size(), std::size_t{1});
        QCOMPARE(view_.boxes[0].text, kNotFoundText);
        QCOMPARE(view_.boxes[0].title, kTitle);
        QCOMPARE(view_.boxes[0].style, 17);
    }

    void cancel_data() {
        QTest::addColumn<int>("answer");
        QTest::newRow("Cancel") << int(IdCancel);
        QTest::newRow("box closed otherwise") << 0;
    }
    void cancel() {
        QFETCH(int, answer);
        finder_.script = {false, true};  // the cable would be there: the user's answer comes first
        view_.answers = {answer};
        QVERIFY(!Check().TestInterface());
        QCOMPARE(finder_.calls, 1);
        QVERIFY(opener_.names.isEmpty());
        QCOMPARE(view_.boxes.size(), std::size_t{1});
    }

    void foundButBusy() {
        finder_.script = {true, true};
        opener_.refusals = {QStringLiteral("it is in use by another program")};
        view_.answers = {IdOk};
        QVERIFY(Check().TestInterface());
        QCOMPARE(opener_.names.size(), 2);
        QCOMPARE(view_.boxes.size(), std::size_t{1});
        QCOMPARE(
            view_.boxes[0].text,
            QStringLiteral("The cable's port /dev/ttyUSB0 was found but could not be opened: it is in use "
                           "by another program.\r\n"
                           "Plug the cable into a USB port of the PC and click OK to search again, or "
                           "click Cancel to quit."));
        QCOMPARE(view_.boxes[0].title, kTitle);
        QCOMPARE(view_.boxes[0].style, 17);
    }

    // The reason names what the user cannot: a "%1" in it stays as it is.
    void reasonWithPercentSign() {
        finder_.script = {true};
        opener_.refusals = {QStringLiteral("error %1 50% done")};
        view_.answers = {IdCancel};
        QVERIFY(!Check().TestInterface());
        QVERIFY2(view_.boxes[0].text.contains(QStringLiteral(": error %1 50% done.\r\n")),
                 qPrintable(view_.boxes[0].text));
    }

    void givenPort() {
        QVERIFY(Check(QStringLiteral("/dev/pts/7")).TestInterface());
        QCOMPARE(finder_.calls, 0);
        QCOMPARE(opener_.names, QStringList{QStringLiteral("/dev/pts/7")});
        QCOMPARE(device_.InterfacePortName, QStringLiteral("/dev/pts/7"));
        QVERIFY(view_.boxes.empty());
    }

    void givenPortRefused() {
        opener_.refusals = {QStringLiteral("there is no such device")};
        view_.answers = {IdOk};
        QVERIFY(Check(QStringLiteral("/dev/ttyXYZ")).TestInterface());
        QCOMPARE(finder_.calls, 0);
        QCOMPARE(opener_.names, (QStringList{QStringLiteral("/dev/ttyXYZ"), QStringLiteral("/dev/ttyXYZ")}));
        QVERIFY(view_.boxes[0].text.contains(QStringLiteral("/dev/ttyXYZ")));
    }
};

QTEST_GUILESS_MAIN(TestCableCheck)
#include "test_cable_check.moc"
