// The device link against the simulated DC: wire bytes, resend counts, time-outs and flags.
#include <QtTest>

#include "fakes/link_fixture.h"

Q_DECLARE_METATYPE(Bytes)

namespace {

// The routines of the link, B6 and B8 being its two value commands.
enum Routine { Identify, Enter, Leave, Status, Read3072, B6, RecordAddr, Record, SetClock, Address, B8 };

// Runs one routine of the link; the routines without a result report through UpdateAborted.
bool Run(LinkFixture& f, int routine) {
    CommModule& c = *f.comm;
    f.EnterDeepSleep = routine != Leave;
    switch (routine) {
        case Identify:
            return c.ReadDeviceId();
        case Enter:
        case Leave:
            return c.SetDeepSleep();
        case Status:
            return c.ReadDeviceStatus() != 0;
        case Read3072:
            c.ReadBlocks(3072, 3072);
            break;
        case B6:
            c.SendValueCommand(0xB6, 1);
            break;
        case RecordAddr:
            return c.SendRecordAddress(4);
        case Record:
            c.WriteRecord(4);
            break;
        case SetClock:
            c.SetDeviceClock("07/23/11", "14:05:09", 233);
            break;
        case Address:
            return c.SendBlockAddress(0, 0xB5);
        case B8:
            c.SendValueCommandB8(5);
            break;
    }
    return !f.UpdateAborted;
}

}  // namespace

class CommModuleTest : public QObject {
    Q_OBJECT

private slots:
    void framesOnTheWire_data() {
        QTest::addColumn<int>("routine");
        QTest::addColumn<Bytes>("wire");
        QTest::newRow("identify") << int(Identify) << Bytes{0x84, 0x00};
        QTest::newRow("enter deep sleep") << int(Enter) << Bytes{0xA8, 0x55, 0x00};
        QTest::newRow("leave deep sleep") << int(Leave) << Bytes{0xA8, 0x99, 0x00};
        QTest::newRow("status byte") << int(Status) << Bytes{0xBA, 0x00};
        QTest::newRow("read unit 3072") << int(Read3072) << Bytes{0xB4, 0x0C, 0x00, 0x00};
    }
    void framesOnTheWire() {
        QFETCH(int, routine);
        QFETCH(Bytes, wire);
        LinkFixture f;
        QVERIFY(Run(f, routine));
        QCOMPARE(f.Sent(), std::vector<Bytes>{wire});
    }

    void identificationInPieces() {
        DcConfig c;
        c.faults.splitSizes = {5, 5, 8};
        LinkFixture f(c);
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
        QFETCH(bool, aborts);
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
        QCOMPARE(f.UpdateAborted, aborts);
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
        QFETCH(int, frames);
        QFETCH(bool, aborts);
        DcConfig c;
        c.faults.refusals = {{0xB5, DcPhase::Data, refusals}};
        c.faults.silenceStartFrame = 2;
        c.faults.silenceFrameCount = lost;
        LinkFixture f(c);
        for (int i = 0; i < 129; ++i)
            f.link.BlockBuffer[std::size_t(i)] = std::uint8_t(255 - i);
        f.comm->WriteBlock(3080, 0xB5);
        QCOMPARE(f.UpdateAborted, aborts);
        QCOMPARE(int(f.Sent().size()), frames);
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
        QFETCH(int, sends);
        QFETCH(bool, ok);
        QFETCH(double, seconds);
        DcConfig c;
        c.faults.refusals = {{std::uint8_t(refused), DcPhase::Command, refusals}};
        if (!refused) {  // the address's acknowledgement must not pass for the lost record's
            c.faults.silenceStartFrame = 2;
            c.faults.silenceFrameCount = 1;
        }
        LinkFixture f(c);
        QCOMPARE(Run(f, routine), ok);
        QCOMPARE(int(f.Sent().size()), sends);
        QVERIFY(seconds < 0 ? f.clock.Now() > -seconds : f.clock.Now() < seconds);
    }

    void clockRecordOnTheWire() {
        LinkFixture f;
        QVERIFY(Run(f, SetClock));
        QCOMPARE(f.Sent(), (std::vector<Bytes>{
                               {0x97, 0x00}, {0x11, 0x23, 0x07, 0x09, 0x05, 0x82, 0xE9, 0x00, 0xB4, 0x00}}));
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
        QFETCH(int, hour);
        QCOMPARE(int(BuildClockRecord("01/02/03", time, 233)[5]), hour);
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
        DcConfig c;
        c.faults.strayByte = 0x33;
        c.faults.strayBefore = 0xA8;
        LinkFixture f(c);
        f.UpdateAborted = true;
        QVERIFY(Run(f, Enter));
        QVERIFY(!f.UpdateAborted);
        QCOMPARE(f.Sent().size(), size_t(1));
        QCOMPARE(f.sim.Delivered().size(), size_t(2));
    }

    void blockReadInPiecesFillsPositions1To128() {
        DcConfig c;
        c.faults.splitSizes = {1, 100, 28};
        LinkFixture f(c);
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
        DcConfig c;
        c.faults.chatter = true;
        LinkFixture f(c);
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
