// The simulated DC: its replies, its memory, the install rule, the faults, the virtual-time link and the
// pseudo-terminal executable.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>
#include <numeric>
#include <set>

#include "tools/dcsim/dc_model.h"
#include "tools/dcsim/simulated_link.h"

using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes Send(DcModel& dc, Bytes frame, double now = 0.0) {
    return dc.Receive(frame, now);
}

// 128 data bytes, the check byte given, the trailing zero.
Bytes BlockFrame(std::uint8_t fill, std::uint8_t check) {
    Bytes frame(128, fill);
    frame.insert(frame.end(), {check, 0x00});
    return frame;
}

Bytes RecordFrame(Bytes frame, int checkOffset = 0) {
    const int sum = std::accumulate(frame.begin(), frame.end(), checkOffset);
    frame.insert(frame.end(), {static_cast<std::uint8_t>(sum & 0xFF), 0x00});
    return frame;
}

// Writes one first-image block (B5) or second-image block (B7) through both phases.
void WriteBlock(DcModel& dc, std::uint8_t command, int unit, std::uint8_t fill, std::uint8_t check) {
    QCOMPARE(Send(dc, {command, static_cast<std::uint8_t>(unit >> 8), static_cast<std::uint8_t>(unit), 0}),
             Bytes{0x5A});
    QCOMPARE(Send(dc, BlockFrame(fill, check)), Bytes{0x5A});
}

std::string IdOf(DcModel& dc, double now) {
    const Bytes reply = Send(dc, {0x84, 0x00}, now);
    return reply.size() == 18 ? std::string(reply.begin() + 1, reply.begin() + 17) : std::string();
}

}  // namespace

class DcSimTest : public QObject {
    Q_OBJECT

private slots:
    void identificationIsEighteenBytesWithTheSumOfTheText() {
        DcModel dc;
        const std::string text = "KAV1F V1A 0512KB";
        Bytes expected{0x5A};
        expected.insert(expected.end(), text.begin(), text.end());
        expected.push_back(static_cast<std::uint8_t>(std::accumulate(text.begin(), text.end(), 0) % 256));
        QCOMPARE(Send(dc, {0x84, 0x00}), expected);
    }

    // Sent to a DC in Deep Sleep; only a leave command ends it.
    void shortCommandsAndBrokenFrames_data() {
        QTest::addColumn<Bytes>("frame");
        QTest::addColumn<Bytes>("reply");
        QTest::addColumn<bool>("sleeping");
        QTest::newRow("status byte") << Bytes{0xBA, 0x00} << Bytes{0x5A, 0x07} << true;
        QTest::newRow("enter deep sleep") << Bytes{0xA8, 0x55, 0x00} << Bytes{0x5A} << true;
        QTest::newRow("leave deep sleep") << Bytes{0xA8, 0x99, 0x00} << Bytes{0x5A} << false;
        QTest::newRow("deep sleep, other mode") << Bytes{0xA8, 0x12, 0x00} << Bytes{} << true;
        QTest::newRow("value B6") << Bytes{0xB6, 0x12, 0x34, 0x00} << Bytes{0x5A} << true;
        QTest::newRow("value B8") << Bytes{0xB8, 0x00, 0x10, 0x00} << Bytes{0x5A} << true;
        QTest::newRow("no trailing zero") << Bytes{0x84} << Bytes{} << true;
        QTest::newRow("block read one byte short") << Bytes{0xB4, 0x00, 0x00} << Bytes{} << true;
        QTest::newRow("trailing byte not zero") << Bytes{0xBA, 0x01} << Bytes{} << true;
        QTest::newRow("unknown command") << Bytes{0x42, 0x00} << Bytes{} << true;
    }
    void shortCommandsAndBrokenFrames() {
        QFETCH(Bytes, frame);
        DcConfig config;
        config.subVersion = 7;
        DcModel dc(config);
        QCOMPARE(Send(dc, {0xA8, 0x55, 0x00}), Bytes{0x5A});
        QTEST(Send(dc, frame), "reply");
        QTEST(dc.DeepSleep(), "sleeping");
    }

    void blockZeroCarriesSerialAndHeaderPointers_data() {
        QTest::addColumn<int>("memoryCode");
        QTest::addColumn<Bytes>("pointers");  // header bytes 8..11
        // 300 x 16 = 0x12C0, 1000 x 16 = 0x3E80 as byte addresses; 0x012C and 0x03E8 as unit numbers.
        QTest::newRow("512: byte addresses") << 512 << Bytes{0xC0, 0x12, 0x80, 0x3E};
        QTest::newRow("1024: unit numbers") << 1024 << Bytes{0x2C, 0x01, 0xE8, 0x03};
    }
    void blockZeroCarriesSerialAndHeaderPointers() {
        QFETCH(int, memoryCode);
        QFETCH(Bytes, pointers);
        DcConfig config;
        config.memoryCode = memoryCode;
        config.serialNumber = 123456;
        config.profileStart = 300;
        config.profileEnd = 1000;
        DcModel dc(config);
        QCOMPARE(dc.Memory().size(), static_cast<std::size_t>(memoryCode) * 8 * 16);
        const Bytes reply = Send(dc, {0xB4, 0x00, 0x00, 0x00});
        QCOMPARE(reply.size(), std::size_t{129});
        QCOMPARE(reply[0], std::uint8_t{0x5A});
        QCOMPARE(Bytes(reply.begin() + 1 + 10, reply.begin() + 1 + 13), (Bytes{0x12, 0x34, 0x56}));
        QCOMPARE(Bytes(reply.begin() + 1 + 64 + 8, reply.begin() + 1 + 64 + 12), pointers);
    }

    void ringHoldsSeededDivesInsideTheProfileOnly() {
        DcConfig config;
        config.profileStart = 512;
        config.profileEnd = 1023;
        const DcModel a(config);
        const DcModel b(config);
        config.seed = 2;
        const DcModel c(config);
        const Bytes inside = a.Block(600);
        QCOMPARE(inside, b.Block(600));
        QVERIFY(inside != c.Block(600));
        QVERIFY(std::count(inside.begin(), inside.end(), 0xFF) < 64);
        QCOMPARE(a.Block(1024), Bytes(128, 0xFF));  // ring, after the profile
        QCOMPARE(a.Block(256), Bytes(128, 0xFF));   // ring, before it
        QVERIFY(a.Block(8) != Bytes(128, 0xFF));    // settings below the ring
    }

    void profileBlockIsWrittenBackBelowItsReadAddress() {
        DcModel dc;
        const Bytes before = dc.Block(3080);
        WriteBlock(dc, 0xB5, 3080, 0x3C, 0x00);  // unit 0x0C08; the check byte is not the device's business
        QCOMPARE(dc.Block(3080 + 256), Bytes(128, 0x3C));
        QCOMPARE(dc.Block(3080), before);
        // The data phase is over: the same bytes again are no frame.
        QCOMPARE(Send(dc, BlockFrame(0x3C, 0x00)), Bytes{});
        // Another command ends a data phase too.
        QCOMPARE(Send(dc, {0xB5, 0x01, 0x00, 0x00}), Bytes{0x5A});
        QCOMPARE(Send(dc, {0xB4, 0x00, 0x00, 0x00}).size(), std::size_t{129});
        QCOMPARE(Send(dc, BlockFrame(0x3C, 0x00)), Bytes{});
        QVERIFY(dc.Block(0x0100 + 256) != Bytes(128, 0x3C));
    }

    void recordWriteChecksItsSum() {
        DcModel dc;
        const Bytes record{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
        const Bytes before = dc.Block(0);
        QCOMPARE(Send(dc, {0xB2, 0x00, 0x04, 0x00}), Bytes{0x5A});
        QCOMPARE(Send(dc, RecordFrame(record, 1)), Bytes{0xA5});
        QCOMPARE(dc.Block(0), before);
        QCOMPARE(Send(dc, RecordFrame(record)), Bytes{0x5A});  // the refused record may simply come again
        const Bytes block = dc.Block(0);
        QCOMPARE(Bytes(block.begin() + 64, block.begin() + 80), record);
        QCOMPARE(Bytes(block.begin(), block.begin() + 64), Bytes(before.begin(), before.begin() + 64));
    }

    void clockRecordIsDecoded_data() {
        QTest::addColumn<std::uint8_t>("hourByte");
        QTest::addColumn<int>("hour");
        QTest::newRow("2 pm") << std::uint8_t{0x82} << 14;
        QTest::newRow("noon") << std::uint8_t{0x92} << 12;
        QTest::newRow("midnight") << std::uint8_t{0x00} << 0;
        QTest::newRow("11 am") << std::uint8_t{0x11} << 11;
        QTest::newRow("11 pm") << std::uint8_t{0x91} << 23;
    }
    // A record with a wrong sum is refused first; sent again with the right one, it is decoded.
    void clockRecordIsDecoded() {
        QFETCH(std::uint8_t, hourByte);
        QFETCH(int, hour);
        DcModel dc;
        const Bytes record{0x11, 0x23, 0x07, 0x09, 0x05, hourByte, 0xE9, 0x00};
        QCOMPARE(Send(dc, {0x97, 0x00}), Bytes{0x5A});
        QCOMPARE(Send(dc, RecordFrame(record, 1)), Bytes{0xA5});
        QVERIFY(!dc.DeviceClock());
        QCOMPARE(Send(dc, RecordFrame(record)), Bytes{0x5A});
        const auto clock = dc.DeviceClock();
        QVERIFY(clock.has_value());
        QCOMPARE(QList<int>({clock->year, clock->month, clock->day, clock->hour, clock->minute, clock->second,
                             clock->value}),
                 QList<int>({11, 7, 23, hour, 5, 9, 0xE9}));
    }

    void firstImageInstallsOnlyWithTheSumOfItsCheckBytes_data() {
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("idAfter");
        // Check bytes F0 + 80 + 33 = 0x1A3; the rewritten block counts once with its last check byte.
        QTest::newRow("matching sum") << 0x01A3 << "KAV1F V1B 0512KB";
        QTest::newRow("wrong sum") << 0x01A4 << "KAV1F V1A 0512KB";
        QTest::newRow("rewrite counted twice") << 0x01A3 + 0x55 << "KAV1F V1A 0512KB";
    }
    void firstImageInstallsOnlyWithTheSumOfItsCheckBytes() {
        QFETCH(int, value);
        QFETCH(QString, idAfter);
        DcModel dc;
        WriteBlock(dc, 0xB5, 0x0100, 0x11, 0xF0);
        WriteBlock(dc, 0xB5, 0x0108, 0x22, 0x55);
        WriteBlock(dc, 0xB5, 0x0108, 0x22, 0x80);
        WriteBlock(dc, 0xB5, 0x0110, 0x33, 0x33);
        QCOMPARE(
            Send(dc, {0xB6, static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value), 0}, 1.0),
            Bytes{0x5A});
        QCOMPARE(IdOf(dc, 1.0 + 7.9), std::string());  // restarting, 8 s
        QCOMPARE(IdOf(dc, 1.0 + 8.1), idAfter.toStdString());
        QCOMPARE(Send(dc, {0xBA, 0x00}, 9.5), (Bytes{0x5A, 0x03}));
    }

    void secondImageBringsTheNewSubVersion_data() {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("subVersion");
        QTest::newRow("matching sum") << 0x00C8 << 4;  // 0x64 + 0x64
        QTest::newRow("wrong sum") << 0x00C9 << 3;
    }
    void secondImageBringsTheNewSubVersion() {
        QFETCH(int, value);
        QFETCH(int, subVersion);
        DcModel dc;
        const Bytes profile = dc.Block(0x0020 + 256);
        WriteBlock(dc, 0xB7, 0x0020, 0xAB, 0x64);
        WriteBlock(dc, 0xB7, 0x0028, 0xCD, 0x64);
        QCOMPARE(dc.Block(0x0020 + 256), profile);  // a second image does not touch the memory
        QCOMPARE(dc.SecondImage().at(0x0028)[5], std::uint8_t{0xCD});
        Send(dc, {0xB8, 0x12, 0x34, 0x00});
        QCOMPARE(dc.SecondImageParameter(), std::optional<std::uint16_t>(0x1234));
        Send(dc, {0xB9, 0x00, static_cast<std::uint8_t>(value), 0x00});
        QCOMPARE(Send(dc, {0xBA, 0x00}, 8.5), (Bytes{0x5A, static_cast<std::uint8_t>(subVersion)}));
        QCOMPARE(IdOf(dc, 8.5), std::string("KAV1F V1A 0512KB"));
    }

    void versionSitsAtTheEndOfTheSecondWord() {
        QCOMPARE(ReplaceVersion("KAV1F V1A 0512KB", "2C"), std::string("KAV1F V2C 0512KB"));
        QCOMPARE(ReplaceVersion("KAV1FV1A0512KB  ", "2C"), std::string("KAV1FV1A0512KB  "));
    }

    void lostFrames_data() {
        QTest::addColumn<int>("silentFrom");
        QTest::addColumn<int>("silenceStart");
        QTest::addColumn<int>("silenceCount");
        QTest::addColumn<QString>("answered");  // frames 1..6
        QTest::newRow("power loss at frame 3") << 3 << 0 << 0 << "xx....";
        QTest::newRow("frames 2 and 3 lost") << 0 << 2 << 2 << "x..xxx";
    }
    void lostFrames() {
        QFETCH(int, silentFrom);
        QFETCH(int, silenceStart);
        QFETCH(int, silenceCount);
        QFETCH(QString, answered);
        DcConfig config;
        config.faults.silentFromFrame = silentFrom;
        config.faults.silenceStartFrame = silenceStart;
        config.faults.silenceFrameCount = silenceCount;
        DcModel dc(config);
        QString seen;
        for (int i = 0; i < 6; ++i)
            seen += Send(dc, {0xBA, 0x00}).empty() ? '.' : 'x';
        QCOMPARE(seen, answered);
    }

    void refusalsHitTheChosenPhaseOnly() {
        DcConfig config;
        config.faults.refusals = {{0xB5, DcPhase::Data, 3}, {0x84, DcPhase::Command, 1}};
        DcModel dc(config);
        QCOMPARE(Send(dc, {0x84, 0x00}), Bytes{0xA5});
        QCOMPARE(Send(dc, {0x84, 0x00}).size(), std::size_t{18});
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(Send(dc, {0xB5, 0x01, 0x00, 0x00}), Bytes{0x5A});
            QCOMPARE(Send(dc, BlockFrame(0x77, 0x00)), Bytes{0xA5});
        }
        QVERIFY(dc.Block(0x0100 + 256) != Bytes(128, 0x77));
        WriteBlock(dc, 0xB5, 0x0100, 0x77, 0x00);
        QCOMPARE(dc.Block(0x0100 + 256), Bytes(128, 0x77));
    }

    void replyPiecesFollowSplitAndStray() {
        DcFaults f;
        const Bytes id = Send(*std::make_unique<DcModel>(), {0x84, 0x00});
        QCOMPARE(ReplyPieces(id, 0x84, f), std::vector<Bytes>{id});
        f.splitSizes = {5, 5, 8};
        const auto pieces = ReplyPieces(id, 0x84, f);
        QCOMPARE(pieces.size(), std::size_t{3});
        QCOMPARE(pieces[2], Bytes(id.begin() + 10, id.end()));
        f.splitSizes = {1};
        f.strayByte = 0x3F;
        f.strayBefore = 0xA8;
        QCOMPARE(ReplyPieces({0x5A}, 0xA8, f), (std::vector<Bytes>{{0x3F}, {0x5A}}));
        QCOMPARE(ReplyPieces({0x5A, 0x03}, 0xBA, f), (std::vector<Bytes>{{0x5A}, {0x03}}));
    }

    void linkDeliversAfterLatencyAndWireTime_data() {
        QTest::addColumn<bool>("throttle");
        QTest::addColumn<double>("extra");
        QTest::addColumn<double>("due");
        // 84 00 out (2 bytes), 18 bytes back, at 10 bits a byte and 38400 bit/s.
        QTest::newRow("plain") << false << 0.0 << 1.005;
        QTest::newRow("extra latency") << false << 0.5 << 1.505;
        QTest::newRow("throttled") << true << 0.0 << 1.005 + 20 * 10 / 38400.0;
    }
    void linkDeliversAfterLatencyAndWireTime() {
        QFETCH(bool, throttle);
        QFETCH(double, extra);
        QFETCH(double, due);
        VirtualClock clock;
        DcConfig config;
        config.latency = 0.005;
        config.throttle = throttle;
        config.faults.extraLatency = extra;
        SimulatedLink link(clock, config);
        clock.AdvanceTo(1.0);
        link.Serial().Transmit(Bytes{0x84, 0x00});
        link.Pump().YieldUntil(3.0);
        QCOMPARE(link.Delivered().size(), std::size_t{1});
        QCOMPARE(link.Delivered()[0].bytes.size(), std::size_t{18});
        QVERIFY(std::abs(link.Delivered()[0].time - due) < 1e-9);
        QVERIFY(std::abs(clock.Now() - due) < 1e-9);
    }

    void pumpRunsEventsInTimeOrder() {
        VirtualClock clock;
        SimulatedLink link(clock);
        std::vector<std::pair<double, Bytes>> seen;
        link.Serial().OnData = [&](std::span<const std::uint8_t> b) {
            seen.emplace_back(clock.Now(), Bytes(b.begin(), b.end()));
        };
        link.InjectAt(0.5, {0x02});
        link.ScheduleAt(0.3, [&] { seen.emplace_back(clock.Now(), Bytes{0xCC}); });
        link.InjectAt(0.2, {0x01});
        for (int i = 0; i < 3; ++i)
            link.Pump().YieldUntil(10.0);
        QCOMPARE(seen, (std::vector<std::pair<double, Bytes>>{{0.2, {0x01}}, {0.3, {0xCC}}, {0.5, {0x02}}}));
        QCOMPARE(link.Pending(), std::size_t{0});
    }

    void yieldWithNothingDueEndsPastTheDeadline() {
        VirtualClock clock;
        SimulatedLink link(clock);
        link.InjectAt(5.0, {0x01});
        link.Pump().YieldUntil(2.0);
        QVERIFY(clock.Now() > 2.0);
        QVERIFY(link.Delivered().empty());
        link.Pump().YieldUntil(1.0);  // a deadline already passed still moves on
        QVERIFY(clock.Now() > 2.001);
    }

    void sleepHoldsDeliveriesBackAndDiscardDropsThem() {
        VirtualClock clock;
        SimulatedLink link(clock);
        link.Serial().Transmit(Bytes{0xBA, 0x00});
        link.Pump().SleepUntil(1.0);
        QVERIFY(clock.Now() > 1.0);
        QVERIFY(link.Delivered().empty());
        const double woke = clock.Now();
        link.Pump().YieldUntil(woke + 2.0);
        QCOMPARE(link.Delivered().size(), std::size_t{1});
        QCOMPARE(clock.Now(), woke);  // overdue: handed over at once

        link.Serial().Transmit(Bytes{0xBA, 0x00});
        link.Serial().Discard();  // the reply is still on its way: kept
        link.Pump().SleepUntil(clock.Now() + 1.0);
        link.Serial().Discard();  // arrived meanwhile: thrown away
        link.Pump().YieldUntil(clock.Now() + 1.0);
        QCOMPARE(link.Delivered().size(), std::size_t{1});
        QCOMPARE(link.DiscardCount(), 2);
        QCOMPARE(link.Sent(), (std::vector<Bytes>{{0xBA, 0x00}, {0xBA, 0x00}}));
    }

    // A silent DC behind a loop shaped like the identification's: first send and eleven resends.
    void twelveTimeOutsTakeNoRealTime() {
        VirtualClock clock;
        DcConfig config;
        config.faults.silentFromFrame = 1;
        SimulatedLink link(clock, config);
        QElapsedTimer real;
        real.start();
        link.Serial().Transmit(Bytes{0x84, 0x00});
        double start = clock.Now();
        for (int resends = 0; resends < 11;) {
            link.Pump().YieldUntil(start + 2.0);
            if (clock.Now() - start > 2.0) {
                ++resends;
                start = clock.Now();
                link.Serial().Transmit(Bytes{0x84, 0x00});
            }
        }
        QCOMPARE(link.Sent().size(), std::size_t{12});
        QVERIFY(clock.Now() > 22.0 && clock.Now() < 22.1);
        QVERIFY(link.Pump().Passes() < 20);
        QVERIFY(real.elapsed() < 200);
    }

    void restartSwallowsTransmissions() {
        VirtualClock clock;
        SimulatedLink link(clock);
        link.Serial().Transmit(Bytes{0xB6, 0x00, 0x00, 0x00});  // nothing written: sum 0 matches
        link.Pump().YieldUntil(1.0);
        QCOMPARE(link.Delivered().back().bytes, Bytes{0x5A});
        link.Serial().Transmit(Bytes{0x84, 0x00});
        link.Pump().SleepUntil(7.9);
        link.Serial().Transmit(Bytes{0x84, 0x00});
        link.Pump().SleepUntil(8.1);
        link.Serial().Transmit(Bytes{0x84, 0x00});
        link.Pump().YieldUntil(9.0);
        link.Pump().YieldUntil(9.0);
        QCOMPARE(link.Delivered().size(), std::size_t{2});
        const Bytes id = link.Delivered()[1].bytes;
        QCOMPARE(std::string(id.begin() + 1, id.begin() + 17), std::string("KAV1F V1B 0512KB"));
        QCOMPARE(link.Device().Installs(), 1);
    }

    void linkHandsOverPiecesOneAtATime() {
        VirtualClock clock;
        DcConfig config;
        config.faults.splitSizes = {5, 5, 8};
        config.faults.strayByte = 0xE0;
        config.faults.strayBefore = 0x84;
        SimulatedLink link(clock, config);
        link.Serial().Transmit(Bytes{0x84, 0x00});
        std::vector<std::size_t> sizes;
        while (link.Pending() > 0) {
            link.Pump().YieldUntil(clock.Now() + 1.0);
            sizes.push_back(link.Delivered().back().bytes.size());
        }
        QCOMPARE(sizes, (std::vector<std::size_t>{1, 5, 5, 8}));
        QCOMPARE(link.Delivered()[0].bytes, Bytes{0xE0});
    }

    void chatterKeepsComing() {
        VirtualClock clock;
        DcConfig config;
        config.faults.chatter = true;
        config.faults.chatterInterval = 0.01;
        SimulatedLink link(clock, config);
        while (clock.Now() < 0.995)
            link.Pump().YieldUntil(1.0);
        QCOMPARE(link.Delivered().size(), std::size_t{99});
        QCOMPARE(link.Pending(), std::size_t{0});
        std::set<std::uint8_t> values;
        for (const auto& d : link.Delivered())
            values.insert(d.bytes[0]);
        QVERIFY(values.size() > 20);
    }

    void executableServesOnAPseudoTerminal() {
        QProcess sim;
        sim.start(QStringLiteral(KAV_DC_SIM_PATH), {"--id", "KAV2X V3C 1024KB"});
        while (!sim.canReadLine())
            QVERIFY(sim.waitForReadyRead(5000));
        const QByteArray path = sim.readLine().trimmed();
        QVERIFY(path.startsWith("/dev/"));
        const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY);
        QVERIFY(fd >= 0);
        const std::uint8_t request[] = {0x84, 0x00};
        QCOMPARE(::write(fd, request, sizeof request), ssize_t{2});
        QByteArray reply;
        QElapsedTimer waited;
        waited.start();
        for (pollfd p{fd, POLLIN, 0}; reply.size() < 18 && waited.elapsed() < 3000;) {
            char buffer[64];
            if (::poll(&p, 1, 100) > 0)
                reply.append(buffer, std::max(0, static_cast<int>(::read(fd, buffer, sizeof buffer))));
        }
        ::close(fd);
        QCOMPARE(reply.size(), 18);
        QCOMPARE(reply.mid(0, 17), QByteArray("ZKAV2X V3C 1024KB"));
        sim.closeWriteChannel();
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitStatus() == QProcess::NormalExit ? sim.exitCode() : -1, 0);
    }
};

QTEST_GUILESS_MAIN(DcSimTest)
#include "test_dcsim.moc"
