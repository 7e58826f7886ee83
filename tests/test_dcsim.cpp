// The simulated DC where the suites driving the program against it rely on it and cannot tell: the install
// rule, chatter, the virtual-time pump's contract and the server's timing.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "tools/dcsim/dc_model.h"
#include "tools/dcsim/simulated_link.h"

using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes Send(DcModel& dc, Bytes frame, double now = 0.0) {
    return dc.Receive(frame, now);
}

// Writes one block through both phases: the address, then 128 data bytes, the check byte and the zero.
void WriteBlock(DcModel& dc, std::uint8_t command, int unit, std::uint8_t fill, std::uint8_t check) {
    QCOMPARE(Send(dc, {command, std::uint8_t(unit >> 8), std::uint8_t(unit), 0}), Bytes{0x5A});
    Bytes data(130, fill);
    data[128] = check;
    data[129] = 0x00;
    QCOMPARE(Send(dc, data), Bytes{0x5A});
}

std::string IdOf(DcModel& dc, double now) {
    const Bytes reply = Send(dc, {0x84, 0x00}, now);
    return reply.size() == 18 ? std::string(reply.begin() + 1, reply.begin() + 17) : std::string();
}

}  // namespace

class DcSimTest : public QObject {
    Q_OBJECT

private slots:
    void imageInstallsOnlyWithTheSumOfItsCheckBytes_data() {
        QTest::addColumn<bool>("first");  // B5 blocks closed by B6, else B7 blocks closed by B9
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("installed");
        // Check bytes F0 + 80 + 33 = 0x1A3; the rewritten unit counts once, with its last check byte.
        QTest::newRow("first image, matching sum") << true << 0x01A3 << true;
        QTest::newRow("first image, wrong sum") << true << 0x01A4 << false;
        QTest::newRow("first image, rewrite counted twice") << true << 0x01A3 + 0x55 << false;
        QTest::newRow("second image, matching sum") << false << 0x01A3 << true;
        QTest::newRow("second image, wrong sum") << false << 0x01A4 << false;
    }
    void imageInstallsOnlyWithTheSumOfItsCheckBytes() {
        QFETCH(bool, first);
        QFETCH(int, value);
        QFETCH(bool, installed);
        DcModel dc;
        QCOMPARE(Send(dc, {0xA8, 0x55, 0x00}), Bytes{0x5A});  // image blocks are taken in Deep Sleep only
        const Bytes profile = dc.Block(0x0110 + 256);
        const std::uint8_t write = first ? 0xB5 : 0xB7;
        WriteBlock(dc, write, 0x0100, 0x11, 0xF0);
        WriteBlock(dc, write, 0x0108, 0x22, 0x55);
        WriteBlock(dc, write, 0x0108, 0x22, 0x80);
        WriteBlock(dc, write, 0x0110, 0x33, 0x33);
        // A first image lands in the profile area at unit + 256; a second one is kept apart.
        QCOMPARE(dc.Block(0x0110 + 256), first ? Bytes(128, 0x33) : profile);
        const Bytes close{std::uint8_t(first ? 0xB6 : 0xB9), std::uint8_t(value >> 8), std::uint8_t(value),
                          0};
        QCOMPARE(Send(dc, close, 1.0), Bytes{0x5A});
        QCOMPARE(IdOf(dc, 1.0 + 7.9), std::string());  // restarting, 8 s
        QCOMPARE(IdOf(dc, 1.0 + 8.1),
                 std::string(installed && first ? "KAV1F V1B 0512KB" : "KAV1F V1A 0512KB"));
        QCOMPARE(Send(dc, {0xBA, 0x00}, 9.5), (Bytes{0x5A, std::uint8_t(installed && !first ? 4 : 3)}));
        QCOMPARE(dc.Installs(), installed ? 1 : 0);
    }

    // One pass hands over one due delivery or runs one action, the earliest first, whatever the queueing
    // order; a pass with nothing due ends strictly past its deadline, so that "elapsed > t" time-outs fire.
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
        link.InjectAt(5.0, {0x03});
        for (int i = 0; i < 3; ++i)
            link.Pump().YieldUntil(10.0);
        QCOMPARE(seen, (std::vector<std::pair<double, Bytes>>{{0.2, {0x01}}, {0.3, {0xCC}}, {0.5, {0x02}}}));
        link.Pump().YieldUntil(2.0);
        QVERIFY(clock.Now() > 2.0 && seen.size() == 3);
        link.Pump().YieldUntil(1.0);  // a deadline already passed still moves on
        QVERIFY(clock.Now() > 2.001);
    }

    void chatterKeepsComingAtItsInterval() {
        VirtualClock clock;
        DcConfig config;
        config.faults.chatter = true, config.faults.chatterInterval = 0.01;
        SimulatedLink link(clock, config);
        while (clock.Now() < 0.995)
            link.Pump().YieldUntil(1.0);
        QCOMPARE(link.Delivered().size(), std::size_t{99});
        QCOMPARE(link.Pending(), std::size_t{0});  // chatter is not something to wait for
    }

    // Every throttled reply of the pseudo-terminal server leaves on the model's time, as its wire log says.
    void serverKeepsToTheModelsTime() {
        QTemporaryDir dir;
        const QString log = dir.filePath(QStringLiteral("wire"));
        QProcess sim;
        sim.start(QStringLiteral(KAV_DC_SIM_PATH), {"--throttle", "--latency-ms", "2", "--wire-log", log});
        while (!sim.canReadLine())
            QVERIFY(sim.waitForReadyRead(5000));
        const int fd = ::open(sim.readLine().trimmed().constData(), O_RDWR | O_NOCTTY);
        for (int round = 0; round < 2; ++round) {
            const std::uint8_t request[] = {0x84, 0x00};
            char reply[64];
            ssize_t got = 0;
            QCOMPARE(::write(fd, request, sizeof request), ssize_t{2});
            for (pollfd p{fd, POLLIN, 0}; got < 18 && ::poll(&p, 1, 3000) > 0;)
                got += std::max(ssize_t{0}, ::read(fd, reply + got, sizeof reply - std::size_t(got)));
            QCOMPARE(got, ssize_t{18});
        }
        ::close(fd);
        sim.closeWriteChannel();
        QVERIFY(sim.waitForFinished(5000));
        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        for (int round = 0; round < 2; ++round) {
            const QList<QByteArray> heard = file.readLine().trimmed().split(' ');
            const QList<QByteArray> wrote = file.readLine().trimmed().split(' ');
            QVERIFY(heard.size() == 4 && wrote.size() == 5);
            QCOMPARE(heard[0] + heard[2] + heard[3] + wrote[0] + wrote[2], QByteArray("I284O18"));
            const double due = heard[1].toDouble() + 0.002 + 20 * 10 / 38400.0;  // 2 + 18 bytes at 38400 8N1
            QVERIFY2(std::abs(wrote[3].toDouble() - due) < 1e-6, wrote.join(' ').constData());
            QVERIFY(wrote[4].toDouble() >= due && wrote[1].toDouble() >= wrote[4].toDouble());
        }
    }
};

QTEST_GUILESS_MAIN(DcSimTest)
#include "test_dcsim.moc"
