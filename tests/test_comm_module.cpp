// The device link against the simulated DC: wire bytes, resend counts, time-outs and flags.
#include <QtTest>

#include "fakes/link_fixture.h"

Q_DECLARE_METATYPE(Bytes)
using Frames = std::vector<Bytes>;

namespace {

// The routines of the link, B6 and B8 being its two value commands.
enum Routine { Identify, Enter, Leave, Status, Read3072, B6, RecordAddr, Record, SetClock, Address, B8 };

// Runs one routine of the link; the routines without a result report through UpdateAborted.
bool Run(LinkFixture& f, int routine) {
    CommModule& c = *f.comm;
    f.EnterDeepSleep = routine != Leave;
    const std::function<bool()> routines[] = {
        [&] { return c.ReadDeviceId(); },
        [&] { return c.SetDeepSleep(); },
        [&] { return c.SetDeepSleep(); },
        [&] { return c.ReadDeviceStatus() != 0; },
        [&] { return c.ReadBlocks(3072, 3072), !f.UpdateAborted; },
        [&] { return c.SendValueCommand(0xB6, 1), !f.UpdateAborted; },
        [&] { return c.SendRecordAddress(4); },
        [&] { return c.WriteRecord(4), !f.UpdateAborted; },
        [&] { return c.SetDeviceClock("07/23/11", "14:05:09", 233), !f.UpdateAborted; },
        [&] { return c.SendBlockAddress(0, 0xB5); },
        [&] { return c.SendValueCommandB8(5), !f.UpdateAborted; },
    };
    return routines[routine]();
}

}  // namespace

class CommModuleTest : public QObject {
    Q_OBJECT

private slots:
    void framesOnTheWire_data() {
        QTest::addColumn<int>("routine");
        QTest::addColumn<Frames>("wire");
        QTest::newRow("identify") << int(Identify) << Frames{{0x84, 0x00}};
        QTest::newRow("enter deep sleep") << int(Enter) << Frames{{0xA8, 0x55, 0x00}};
        QTest::newRow("leave deep sleep") << int(Leave) << Frames{{0xA8, 0x99, 0x00}};
        QTest::newRow("status byte") << int(Status) << Frames{{0xBA, 0x00}};
        QTest::newRow("read unit 3072") << int(Read3072) << Frames{{0xB4, 0x0C, 0x00, 0x00}};
        QTest::newRow("clock: 07/23/11 14:05:09, 233")
            << int(SetClock)
            << Frames{{0x97, 0x00}, {0x11, 0x23, 0x07, 0x09, 0x05, 0x82, 0xE9, 0x00, 0xB4, 0x00}};
    }
    void framesOnTheWire() {
        QFETCH(int, routine);
        LinkFixture f;
        QVERIFY(Run(f, routine));
        QTEST(f.Sent(), "wire");
    }

    void identificationInPieces() {
        LinkFixture f(WithFaults([](DcFaults& x) { x.splitSizes = {5, 5, 8}; }));
        QVERIFY(f.comm->ReadDeviceId());
        QCOMPARE(f.sim.Delivered().size(), size_t(3));
        QCOMPARE(f.link.ReceivedCount, 18);
        QCOMPARE(f.DeviceIdText, QStringLiteral("KAV1F V1A 0512KB"));
    }

    void silentDcTimesOut_data() {
        QTest::addColumn<int>("routine");
        QTest::addColumn<int>("sends");
        QTest::addColumn<double>("seconds");  // about, from the first send to the give-up
        QTest::addColumn<bool>("aborts");
        QTest::newRow("identify: 12 requests 2 s apart") << int(Identify) << 12 << 22.0 << false;
        QTest::newRow("deep sleep: 5 sends, 4 waits of 1 s") << int(Enter) << 5 << 4.0 << true;
        QTest::newRow("status byte: 12 requests 1 s apart") << int(Status) << 12 << 11.0 << false;
        QTest::newRow("block read: 5 requests, 0.8 s") << int(Read3072) << 5 << 0.8 << true;
        QTest::newRow("value command: 5 sends") << int(B6) << 5 << 4.0 << true;
        QTest::newRow("record address: 12 sends, skipped quietly") << int(RecordAddr) << 12 << 1.1 << false;
        QTest::newRow("clock start: 5 sends") << int(SetClock) << 5 << 0.4 << true;
        QTest::newRow("block address: 22 sends") << int(Address) << 22 << 4.2 << true;
    }
    void silentDcTimesOut() {
        QFETCH(int, routine);
        QFETCH(int, sends);
        QFETCH(double, seconds);
        LinkFixture f(SilentDc());
        // A run that spans midnight must not end early: the time-outs use the monotonic clock.
        f.clock.SetWallClock(QDateTime(QDate(2026, 12, 31), QTime(23, 59, 58)));
        QVERIFY(!Run(f, routine));
        QCOMPARE(int(f.Sent().size()), sends);
        const auto& at = f.sim.SentTimes();
        const double span = f.clock.Now() - at.front();
        QVERIFY2(span > seconds && span < seconds + 0.1, qPrintable(QString::number(span)));
        for (std::size_t i = 1; i + 1 < at.size(); ++i)
            QVERIFY(at[i] - at[i - 1] > 0.09);  // resends wait for the time-out
        QTEST(f.UpdateAborted, "aborts");
    }

    void blockWrite_data() {
        QTest::addColumn<int>("refusals");  // of the data phase
        QTest::addColumn<int>("lost");      // frames lost after the first
        QTest::addColumn<int>("frames");    // address and data, alternating
        QTest::addColumn<bool>("aborts");
        QTest::newRow("acknowledged at once") << 0 << 0 << 2 << false;
        QTest::newRow("data refused three times, then acknowledged") << 3 << 0 << 8 << false;
        QTest::newRow("data never acknowledged: four tries") << 100 << 0 << 8 << true;
        QTest::newRow("data lost once: sent again with its address") << 0 << 1 << 4 << false;
    }
    void blockWrite() {
        QFETCH(int, refusals);
        QFETCH(int, lost);
        LinkFixture f(WithFaults([&](DcFaults& x) {
            x.refusals = {{0xB5, DcPhase::Data, refusals}};
            x.silenceStartFrame = 2, x.silenceFrameCount = lost;
        }));
        for (int i = 0; i < 128; ++i)
            f.link.BlockBuffer[std::size_t(i)] = std::uint8_t(255 - i);
        f.link.BlockBuffer[128] = 0xC0;  // the data's sum
        f.comm->WriteBlock(3080, 0xB5);
        QTEST(f.UpdateAborted, "aborts");
        QTEST(int(f.Sent().size()), "frames");
        Bytes data(f.link.BlockBuffer.begin(), f.link.BlockBuffer.end());
        data.push_back(0x00);
        for (std::size_t i = 0; i < f.Sent().size(); i += 2) {
            QCOMPARE(f.Sent()[i], (Bytes{0xB5, 0x0C, 0x08, 0x00}));
            QCOMPARE(f.Sent()[i + 1], data);
        }
    }

    // Refusals are answered at once; a lost frame waits for the time-out.
    void resends_data() {
        QTest::addColumn<int>("routine");
        QTest::addColumn<int>("refused");  // the command refused; 0: the frame after the first is lost once
        QTest::addColumn<int>("refusals");
        QTest::addColumn<int>("sends");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<double>("seconds");  // the run ends before this time; negative: after it, lost
        QTest::newRow("clock start refused: five sends") << int(SetClock) << 0x97 << 100 << 5 << false << 0.2;
        QTest::newRow("deep sleep refused once") << int(Enter) << 0xA8 << 1 << 2 << true << 0.5;
        QTest::newRow("record address refused: record skipped")
            << int(Record) << 0xB2 << 1 << 1 << true << 0.1;
        QTest::newRow("record lost: address sent again") << int(Record) << 0 << 0 << 3 << true << -0.09;
    }
    void resends() {
        QFETCH(int, routine);
        QFETCH(int, refused);
        QFETCH(int, refusals);
        QFETCH(double, seconds);
        LinkFixture f(WithFaults([&](DcFaults& x) {
            x.refusals = {{std::uint8_t(refused), DcPhase::Command, refusals}};
            if (!refused)  // the address's acknowledgement must not pass for the lost record's
                x.silenceStartFrame = 2, x.silenceFrameCount = 1;
        }));
        QTEST(Run(f, routine), "ok");
        QTEST(int(f.Sent().size()), "sends");
        QVERIFY(seconds < 0 ? f.clock.Now() > -seconds : f.clock.Now() < seconds);
    }

    void hourByte_data() {
        QTest::addColumn<QString>("time");
        QTest::addColumn<int>("hour");
        QTest::newRow("midnight") << "00:15:00" << 0x00;
        QTest::newRow("eleven") << "11:59:59" << 0x11;
        QTest::newRow("noon") << "12:30:00" << 0x92;
        QTest::newRow("one pm") << "13:00:00" << 0x81;
        QTest::newRow("last minute") << "23:59:59" << 0x91;
    }
    void hourByte() {
        QFETCH(QString, time);
        QTEST(int(BuildClockRecord("01/02/03", time, 233)[5]), "hour");
    }

    void linkErrorEndsWaitsThatHaveNoOtherEnd_data() {
        QTest::addColumn<int>("routine");
        QTest::newRow("deep sleep") << int(Enter);
        QTest::newRow("image 2 parameter") << int(B8);
    }
    void linkErrorEndsWaitsThatHaveNoOtherEnd() {
        QFETCH(int, routine);
        LinkFixture f(SilentDc());
        f.sim.ScheduleAt(0.5, [&] { f.link.LinkStop = f.link.LinkError = true; });
        QVERIFY(!Run(f, routine));
        QVERIFY(f.clock.Now() < 0.6);
        QCOMPARE(f.Sent().size(), size_t(1));
    }

    void deepSleepAcknowledgementAfterAStrayByte() {
        LinkFixture f(WithFaults([](DcFaults& x) { x.strayByte = 0x33, x.strayBefore = 0xA8; }));
        f.UpdateAborted = true;
        QVERIFY(Run(f, Enter));
        QVERIFY(!f.UpdateAborted);
        QCOMPARE(f.Sent().size(), size_t(1));
        QCOMPARE(f.sim.Delivered().size(), size_t(2));
    }

    void blockReadInPiecesFillsPositions1To128() {
        LinkFixture f(WithFaults([](DcFaults& x) { x.splitSizes = {1, 100, 28}; }));
        f.comm->ReadBlocks(8, 8);
        QVERIFY(!f.UpdateAborted);
        QCOMPARE(Bytes(f.link.ReceiveBuffer.begin() + 1, f.link.ReceiveBuffer.begin() + 129),
                 f.sim.Device().Block(8));
        QCOMPARE(f.link.PendingCommand, std::int16_t(-1));  // a late duplicate would be dropped
    }

    void replyCollectionRules() {
        LinkFixture f;
        LinkState& s = f.link;
        s.PendingCommand = -1;  // nothing pending: nothing stored
        f.comm->HandleReceivedData(Bytes{0x5A, 0x01});
        QCOMPARE(s.ReceivedCount, 0);
        QVERIFY(!s.ReplyComplete);
        s.PendingCommand = 0xB5;  // a refused write completes and is marked refused
        f.comm->HandleReceivedData(Bytes{0xA5});
        QVERIFY(s.ReplyComplete && s.NakReceived);
        s.ReceiveBuffer.assign(130, 0);  // bytes beyond the buffer are dropped
        s.PendingCommand = 0xB6;
        s.ReceivedCount = 0;
        f.comm->HandleReceivedData(Bytes(300, 0x5A));
        f.comm->HandleReceivedData(Bytes(10, 0x5A));
        QCOMPARE(s.ReceivedCount, 130);
        QCOMPARE(s.ReceiveBuffer.size(), size_t(130));
    }

    void chatteringDcDoesNoHarm() {
        LinkFixture f(WithFaults([](DcFaults& x) { x.chatter = true; }));
        f.link.ReceiveBuffer.assign(130, 0);
        f.link.ReadBuffer.assign(130, 0);
        Run(f, B6);  // the write's append rule meets the chatter
        Run(f, Read3072);
        QCOMPARE(f.link.ReceiveBuffer.size(), size_t(130));
    }

    void invalidAddressesStopTheLink() {
        LinkFixture f;
        f.comm->ReadBlocks(-8, -8);
        QVERIFY(f.link.LinkStop && f.link.LinkError && f.UpdateAborted);
        f.UpdateAborted = false;
        f.comm->SendValueCommand(0xB6, 70000);
        QVERIFY(f.UpdateAborted);
        QVERIFY(f.Sent().empty());
    }
};

QTEST_GUILESS_MAIN(CommModuleTest)
#include "test_comm_module.moc"
