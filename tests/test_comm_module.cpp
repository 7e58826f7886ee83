// The device link against the simulated DC: wire bytes, resend counts, time-outs and flags.
#include <QtTest>

#include "fakes/link_fixture.h"

Q_DECLARE_METATYPE(Bytes)

class CommModuleTest : public QObject {
    Q_OBJECT

private slots:
    void framesOnTheWire_data() {
        QTest::addColumn<int>("command");
        QTest::addColumn<Bytes>("wire");
        QTest::newRow("identify") << 0 << Bytes{0x84, 0x00};
        QTest::newRow("enter deep sleep") << 1 << Bytes{0xA8, 0x55, 0x00};
        QTest::newRow("leave deep sleep") << 2 << Bytes{0xA8, 0x99, 0x00};
        QTest::newRow("status byte") << 3 << Bytes{0xBA, 0x00};
        QTest::newRow("read unit 3072") << 4 << Bytes{0xB4, 0x0C, 0x00, 0x00};
        QTest::newRow("close image, 0x1234") << 5 << Bytes{0xB6, 0x12, 0x34, 0x00};
        QTest::newRow("image 2 parameter, 0xBEEF") << 6 << Bytes{0xB8, 0xBE, 0xEF, 0x00};
        QTest::newRow("record address unit 4") << 7 << Bytes{0xB2, 0x00, 0x04, 0x00};
    }
    void framesOnTheWire() {
        QFETCH(int, command);
        QFETCH(Bytes, wire);
        LinkFixture f;
        switch (command) {
            case 0:
                QVERIFY(f.comm->ReadDeviceId());
                break;
            case 1:
                f.EnterDeepSleep = true;
                QVERIFY(f.comm->SetDeepSleep());
                break;
            case 2:
                f.EnterDeepSleep = false;
                QVERIFY(f.comm->SetDeepSleep());
                break;
            case 3:
                QCOMPARE(f.comm->ReadDeviceStatus(), std::uint8_t(3));
                break;
            case 4:
                f.comm->ReadBlocks(3072, 3072);
                break;
            case 5:
                f.comm->SendValueCommand(0xB6, 0x1234);
                break;
            case 6:
                f.comm->SendValueCommandB8(0xBEEF);
                break;
            case 7:
                QVERIFY(f.comm->SendRecordAddress(4));
                break;
        }
        QCOMPARE(f.Sent().size(), size_t(1));
        QCOMPARE(f.Sent()[0], wire);
        QVERIFY(!f.UpdateAborted);
    }

    void identificationInPieces() {
        DcConfig c;
        c.faults.splitSizes = {5, 5, 8};
        LinkFixture f(c);
        QVERIFY(f.comm->ReadDeviceId());
        QCOMPARE(f.sim.Delivered().size(), size_t(3));
        QCOMPARE(f.DeviceIdText, QStringLiteral("KAV1F V1A 0512KB"));
        QCOMPARE(f.link.ReceivedCount, 18);
        QCOMPARE(f.Sent().size(), size_t(1));
    }

    void silentDcTimesOut_data() {
        QTest::addColumn<int>("routine");
        QTest::addColumn<int>("sends");
        QTest::addColumn<double>("seconds");  // about, from the first send to the give-up
        QTest::addColumn<bool>("aborts");
        QTest::newRow("identify: 12 requests 2 s apart") << 0 << 12 << 22.0 << false;
        QTest::newRow("deep sleep: 5 sends, 4 waits of 1 s") << 1 << 5 << 4.0 << true;
        QTest::newRow("status byte: 12 requests 1 s apart") << 2 << 12 << 11.0 << false;
        QTest::newRow("block read: 5 requests, 0.8 s") << 3 << 5 << 0.8 << true;
        QTest::newRow("value command: 5 sends") << 4 << 5 << 4.0 << true;
        QTest::newRow("record address: 12 sends, skipped quietly") << 5 << 12 << 1.1 << false;
        QTest::newRow("clock start: 5 sends") << 6 << 5 << 0.4 << true;
        QTest::newRow("block address: 22 sends") << 7 << 22 << 4.2 << true;
    }
    void silentDcTimesOut() {
        QFETCH(int, routine);
        QFETCH(int, sends);
        QFETCH(double, seconds);
        QFETCH(bool, aborts);
        LinkFixture f(SilentDc());
        // A run that spans midnight must not end early: the time-outs use the monotonic clock.
        f.clock.SetWallClock(QDateTime(QDate(2026, 12, 31), QTime(23, 59, 58)));
        QElapsedTimer real;
        real.start();
        bool result = true;
        switch (routine) {
            case 0:
                result = f.comm->ReadDeviceId();
                break;
            case 1:
                result = f.comm->SetDeepSleep();
                break;
            case 2:
                result = f.comm->ReadDeviceStatus() != 0;
                break;
            case 3:
                f.comm->ReadBlocks(0, 0);
                break;
            case 4:
                f.comm->SendValueCommand(0xB6, 1);
                break;
            case 5:
                result = f.comm->SendRecordAddress(8);
                break;
            case 6:
                f.comm->SetDeviceClock("07/23/11", "14:05:09", 233);
                break;
            case 7:
                result = f.comm->SendBlockAddress(0, 0xB5);
                break;
        }
        if (routine != 3 && routine != 4 && routine != 6)
            QVERIFY(!result);
        QCOMPARE(int(f.Sent().size()), sends);
        const double span = f.clock.Now() - f.sim.SentTimes().front();
        QVERIFY2(span > seconds && span < seconds + 0.1, qPrintable(QString::number(span)));
        // Resends are spaced by the time-out, never sooner.
        for (std::size_t i = 1; i + 1 < f.sim.SentTimes().size(); ++i) {
            QVERIFY(f.sim.SentTimes()[i] - f.sim.SentTimes()[i - 1] > 0.09);
        }
        QCOMPARE(f.UpdateAborted, aborts);
        QVERIFY(real.elapsed() < 2000);  // virtual time: the waits cost nothing
    }

    void blockDataRefusedThreeTimesThenAcknowledged() {
        DcConfig c;
        c.faults.refusals = {{0xB5, DcPhase::Data, 3}};
        LinkFixture f(c);
        for (int i = 0; i < 129; ++i)
            f.link.BlockBuffer[std::size_t(i)] = std::uint8_t(i);
        f.comm->WriteBlock(3080, 0xB5);
        QVERIFY(!f.UpdateAborted);
        QCOMPARE(int(f.Sent().size()), 8);
        Bytes data(f.link.BlockBuffer.begin(), f.link.BlockBuffer.end());
        data.push_back(0x00);
        for (std::size_t i = 0; i < 8; i += 2) {
            QCOMPARE(f.Sent()[i], (Bytes{0xB5, 0x0C, 0x08, 0x00}));
            QCOMPARE(f.Sent()[i + 1], data);
        }
    }

    void blockDataNeverAcknowledged() {
        DcConfig c;
        c.faults.refusals = {{0xB5, DcPhase::Data, 100}};
        LinkFixture f(c);
        f.comm->WriteBlock(8, 0xB5);
        QVERIFY(f.UpdateAborted);
        QCOMPARE(f.Count(0xB5), 4);
        QCOMPARE(int(f.Sent().size()), 8);
    }

    void blockDataLostOnceIsSentAgainWithItsAddress() {
        DcConfig c;
        c.faults.silenceStartFrame = 2;  // each data phase is lost, the addresses get through
        c.faults.silenceFrameCount = 1;
        LinkFixture f(c);
        f.link.BlockBuffer.fill(0x11);
        f.comm->WriteBlock(8, 0xB5);
        QVERIFY(!f.UpdateAborted);
        QCOMPARE(f.Count(0xB5), 2);
        QVERIFY(f.clock.Now() > 1.0);
    }

    void addressAcknowledgedThenData() {
        LinkFixture f;
        for (int i = 0; i < 128; ++i)
            f.link.BlockBuffer[std::size_t(i)] = std::uint8_t(255 - i);
        f.link.BlockBuffer[128] = 0x40;
        f.comm->WriteBlock(3080, 0xB5);
        QVERIFY(!f.UpdateAborted);
        QCOMPARE(f.Sent().size(), size_t(2));
        QCOMPARE(f.Sent()[0], (Bytes{0xB5, 0x0C, 0x08, 0x00}));
        Bytes data(f.link.BlockBuffer.begin(), f.link.BlockBuffer.end());
        data.push_back(0x00);
        QCOMPARE(f.Sent()[1], data);
        // The device keeps profile blocks 256 units above the block write's address.
        QCOMPARE(f.sim.Device().Block(3080 + 256)[0], std::uint8_t(255));
    }

    void clockRecordOnTheWire() {
        LinkFixture f;
        f.comm->SetDeviceClock("07/23/11", "14:05:09", 233);
        QVERIFY(!f.UpdateAborted);
        QCOMPARE(f.Sent().size(), size_t(2));
        QCOMPARE(f.Sent()[0], (Bytes{0x97, 0x00}));
        QCOMPARE(f.Sent()[1], (Bytes{0x11, 0x23, 0x07, 0x09, 0x05, 0x82, 0xE9, 0x00, 0xB4, 0x00}));
        QVERIFY(f.sim.Device().DeviceClock().has_value());
        QCOMPARE(f.sim.Device().DeviceClock()->hour, 14);
    }

    void hourByte_data() {
        QTest::addColumn<QString>("time");
        QTest::addColumn<int>("hour");
        QTest::newRow("midnight") << "00:15:00" << 0x00;
        QTest::newRow("morning") << "09:00:00" << 0x09;
        QTest::newRow("eleven") << "11:59:59" << 0x11;
        QTest::newRow("noon") << "12:30:00" << 0x92;
        QTest::newRow("one pm") << "13:00:00" << 0x81;
        QTest::newRow("last minute") << "23:59:59" << 0x91;
    }
    void hourByte() {
        QFETCH(QString, time);
        QFETCH(int, hour);
        const auto record = BuildClockRecord("01/02/03", time, 233);
        QCOMPARE(int(record[5]), hour);
        int sum = 0;
        for (int i = 0; i < 8; ++i)
            sum += record[std::size_t(i)];
        QCOMPARE(int(record[8]), sum % 256);
    }

    void clockStartRefusedIsResentAtOnce() {
        DcConfig c;
        c.faults.refusals = {{0x97, DcPhase::Command, 100}};
        LinkFixture f(c);
        f.comm->SetDeviceClock("07/23/11", "14:05:09", 233);
        QVERIFY(f.UpdateAborted);
        QCOMPARE(f.Count(0x97), 5);
        QVERIFY(f.clock.Now() < 0.2);  // refusals do not wait for the time-out
    }

    void deepSleepAcknowledgementAfterAStrayByte() {
        DcConfig c;
        c.faults.strayByte = 0x33;
        c.faults.strayBefore = 0xA8;
        LinkFixture f(c);
        f.UpdateAborted = true;
        QVERIFY(f.comm->SetDeepSleep());
        QVERIFY(!f.UpdateAborted);
        QCOMPARE(f.Sent().size(), size_t(1));
        QCOMPARE(f.sim.Delivered().size(), size_t(2));
    }

    void deepSleepRefusalIsResentWithoutWaiting() {
        DcConfig c;
        c.faults.refusals = {{0xA8, DcPhase::Command, 1}};
        LinkFixture f(c);
        QVERIFY(f.comm->SetDeepSleep());
        QCOMPARE(f.Count(0xA8), 2);
        QVERIFY(f.clock.Now() < 0.5);
    }

    void closeEndsWaitsThatHaveNoOtherEnd_data() {
        QTest::addColumn<int>("routine");
        QTest::newRow("deep sleep") << 0;
        QTest::newRow("image 2 parameter") << 1;
    }
    void closeEndsWaitsThatHaveNoOtherEnd() {
        QFETCH(int, routine);
        LinkFixture f(SilentDc());
        f.sim.ScheduleAt(0.5, [&] { f.link.LinkStop = f.link.LinkError = true; });
        if (routine == 0) {
            QVERIFY(!f.comm->SetDeepSleep());
        } else {
            f.comm->SendValueCommandB8(5);
        }
        QVERIFY(f.UpdateAborted);
        QVERIFY(f.clock.Now() < 0.6);
        QCOMPARE(f.Sent().size(), size_t(1));
    }

    void blockReadFillsPositions1To128_data() {
        QTest::addColumn<QList<int>>("pieces");
        QTest::newRow("one piece") << QList<int>{};
        QTest::newRow("1, 100 and 28 bytes") << QList<int>{1, 100, 28};
    }
    void blockReadFillsPositions1To128() {
        QFETCH(QList<int>, pieces);
        DcConfig c;
        c.faults.splitSizes.assign(pieces.begin(), pieces.end());
        LinkFixture f(c);
        f.comm->ReadBlocks(8, 8);
        QVERIFY(!f.UpdateAborted);
        QCOMPARE(f.sim.Delivered().size(), size_t(pieces.isEmpty() ? 1 : pieces.size()));
        QCOMPARE(Bytes(f.link.ReceiveBuffer.begin() + 1, f.link.ReceiveBuffer.begin() + 129),
                 f.sim.Device().Block(8));
        QCOMPARE(f.link.PendingCommand, std::int16_t(-1));  // a late duplicate would be dropped
    }

    void recordAddressRefusedSkipsTheRecordQuietly() {
        DcConfig c;
        c.faults.refusals = {{0xB2, DcPhase::Command, 1}};
        LinkFixture f(c);
        f.comm->WriteRecord(4);
        QVERIFY(!f.UpdateAborted);
        QCOMPARE(f.Sent().size(), size_t(1));
        QVERIFY(f.clock.Now() < 0.1);
    }

    void recordWriteClearsTheAddressAcknowledgement() {
        DcConfig c;
        c.faults.silenceStartFrame = 2;  // the record itself is lost once
        c.faults.silenceFrameCount = 1;
        LinkFixture f(c);
        for (int i = 0; i < 16; ++i)
            f.link.BlockBuffer[std::size_t(i)] = std::uint8_t(i);
        f.link.BlockBuffer[16] = 120;
        f.comm->WriteRecord(4);
        QVERIFY(!f.UpdateAborted);
        QCOMPARE(f.Sent().size(), size_t(3));  // the address's 5A did not pass for the record's
        QCOMPARE(f.Sent()[2].size(), size_t(18));
        QCOMPARE(f.sim.Device().Block(0)[64 + 15], std::uint8_t(15));
    }

    void replyCollectionRules() {
        LinkFixture f;
        LinkState& s = f.link;
        // Nothing pending: nothing stored, nothing sent.
        s.PendingCommand = -1;
        s.ReceivedCount = 0;
        f.comm->HandleReceivedData(Bytes{0x5A, 0x01});
        QCOMPARE(s.ReceivedCount, 0);
        QVERIFY(!s.ReplyComplete);
        f.comm->SendBytes(3);
        QVERIFY(f.Sent().empty());
        // A refused write completes and is marked refused.
        s.PendingCommand = 0xB5;
        s.ReplyComplete = false;
        s.NakReceived = false;
        f.comm->HandleReceivedData(Bytes{0xA5});
        QVERIFY(s.ReplyComplete && s.NakReceived);
        QCOMPARE(s.PendingCommand, std::int16_t(0xB5));
        // Status byte in two deliveries.
        s.PendingCommand = 0xBA;
        s.ReceivedCount = 0;
        s.ReplyComplete = false;
        f.comm->HandleReceivedData(Bytes{0x5A});
        QVERIFY(!s.ReplyComplete);
        f.comm->HandleReceivedData(Bytes{0x07});
        QVERIFY(s.ReplyComplete);
        QCOMPARE(s.ReceiveBuffer[1], std::uint8_t(7));
    }

    void bytesBeyondTheBufferAreDropped() {
        LinkFixture f;
        LinkState& s = f.link;
        s.ReceiveBuffer.assign(130, 0);
        s.PendingCommand = 0xB6;
        s.ReceivedCount = 0;
        f.comm->HandleReceivedData(Bytes(300, 0x5A));
        QCOMPARE(s.ReceivedCount, 130);
        QCOMPARE(s.ReceiveBuffer.size(), size_t(130));
        f.comm->HandleReceivedData(Bytes(10, 0x5A));
        QCOMPARE(s.ReceivedCount, 130);
    }

    void chatteringDcDoesNoHarm() {
        DcConfig c;
        c.faults.chatter = true;
        LinkFixture f(c);
        f.link.ReceiveBuffer.assign(130, 0);
        f.link.ReadBuffer.assign(130, 0);
        f.comm->SendValueCommand(0xB6, 7);  // the write's append rule meets the chatter
        f.comm->ReadBlocks(0, 0);
        f.comm->ReadDeviceId();
        QCOMPARE(f.link.ReceiveBuffer.size(), size_t(130));
    }

    void vanishedDcFailsByTheRoutinesOwnRules() {
        LinkFixture f(SilentDc(3));  // power lost after two frames
        QVERIFY(f.comm->ReadDeviceId());
        QVERIFY(f.comm->SetDeepSleep());
        f.comm->ReadBlocks(0, 0);
        QVERIFY(f.UpdateAborted);
        QCOMPARE(f.Count(0xB4), 5);
    }

    void waitSecondsHandlesNoReply() {
        LinkFixture f;
        f.link.PendingCommand = 0xBA;
        f.link.ExpectedLength = 2;
        f.link.ReceivedCount = 0;
        f.link.TransmitBuffer[0] = 0xBA;
        f.comm->SendBytes(1);
        f.comm->WaitSeconds(1.0);
        QVERIFY(f.clock.Now() > 1.0);
        QVERIFY(f.sim.Delivered().empty());  // the reply waits for the next yield
        QCOMPARE(f.link.ReceivedCount, 0);
    }

    void invalidAddressesStopTheLink() {
        LinkFixture f;
        f.comm->ReadBlocks(-8, -8);
        QVERIFY(f.link.LinkStop && f.link.LinkError && f.UpdateAborted);
        QVERIFY(f.Sent().empty());
        f.UpdateAborted = false;
        f.comm->SendValueCommand(0xB6, 70000);
        QVERIFY(f.UpdateAborted);
        QVERIFY(f.Sent().empty());
    }
};

QTEST_GUILESS_MAIN(CommModuleTest)
#include "test_comm_module.moc"
