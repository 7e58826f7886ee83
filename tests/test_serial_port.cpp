// The serial port and the event pump on a real pseudo-terminal: the test holds the master side, the port
// opens the slave as it would open the cable.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>
#include <QtTest>
#include <ctime>

#include "link/cable_diagnosis.h"
#include "link/port_system.h"
#include "link/qt_event_pump.h"
#include "link/serial_port.h"

namespace {

// The far end of the line.
struct Pty {
    Pty() {
        if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0)
            slave = QString::fromLocal8Bit(::ptsname(master));
    }
    ~Pty() { CloseMaster(); }
    bool IsOpen() const { return master >= 0 && !slave.isEmpty(); }
    bool Write(const QByteArray& bytes) {
        return ::write(master, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    // Up to count bytes, until the line stays quiet for the time given.
    QByteArray Read(qsizetype count, int milliseconds) {
        QByteArray got;
        char buffer[512];
        for (pollfd probe{master, POLLIN, 0}; got.size() < count && ::poll(&probe, 1, milliseconds) == 1;) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0)
                break;
            got.append(buffer, qsizetype(n));
        }
        return got;
    }
    void CloseMaster() {
        if (master >= 0)
            ::close(master);
        master = -1;
    }

    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    QString slave;
};

// A USB-serial driver as the port sees it: flags it may refuse to change, and a latency timer that follows
// the low-latency flag (as FTDI's does) or keeps its own setting. -1: no flags (a pseudo-terminal), no timer.
struct FakeDriver final : SerialDriver {
    FakeDriver(int f, bool r, bool fo, int t) : flags(f), timer(t), refuse(r), follows(fo) {}
    std::optional<int> Flags(int) override { return flags < 0 ? std::nullopt : std::optional(flags); }
    bool SetFlags(int, int value) override { return !refuse && flags >= 0 && (flags = value, true); }
    std::optional<QString> ReadAttribute(const QString& path) override {
        if (timer < 0 || !path.endsWith(QStringLiteral("/device/latency_timer")))
            return std::nullopt;
        return QString::number(follows && flags >= 0 && (flags & kLowLatencyFlag) ? 1 : timer) + u'\n';
    }
    int flags, timer;
    bool refuse, follows;
};

double CpuSeconds() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

// Bytes a terminal would mangle if any cooking, flow control or signal handling were left on.
const QByteArray kAwkward("\x00\x0A\x0D\x11\x13\x03\x1A\x5A\xA5\xFF\x7F\x04", 12);

// A port on the pty's slave, with a pump, collecting what it receives.
struct Line {
    explicit Line(Clock& c) : clock(c), pump(c), port(&pump) {
        port.OnData = [this](std::span<const std::uint8_t> bytes) {
            received.append(reinterpret_cast<const char*>(bytes.data()),
                            static_cast<qsizetype>(bytes.size()));
        };
    }
    bool Open() { return pty.IsOpen() && port.Open(pty.slave, nullptr); }

    Clock& clock;
    Pty pty;
    QtEventPump pump;
    SerialPort port;
    QByteArray received;
};

}  // namespace

class TestSerialPort : public QObject {
    Q_OBJECT

    SystemClock clock_;

private slots:
    // Raw 8N1 at 38400 baud. Received bytes end a yield early; sent ones leave at once, without the event
    // loop.
    void roundTrip() {
        Line l(clock_);
        QVERIFY(l.Open());
        termios tio{};
        const int fd = ::open(l.pty.slave.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0 && ::tcgetattr(fd, &tio) == 0 && ::close(fd) == 0);
        QCOMPARE(::cfgetospeed(&tio), speed_t(B38400));
        QCOMPARE(tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8));

        QVERIFY(l.pty.Write(kAwkward));
        const double deadline = clock_.Now() + 5.0;
        l.pump.YieldUntil(deadline);
        QVERIFY2(clock_.Now() < deadline - 3.0, "the yield waited for its deadline although data came");
        for (int pass = 0; pass < 50 && l.received.size() < kAwkward.size(); ++pass)
            l.pump.YieldUntil(clock_.Now() + 0.1);
        QCOMPARE(l.received.toHex(' '), kAwkward.toHex(' '));

        const QByteArray block = kAwkward.repeated(22);
        l.port.Transmit(
            std::span(reinterpret_cast<const std::uint8_t*>(block.constData()), std::size_t(block.size())));
        QCOMPARE(l.pty.Read(block.size(), 3000).toHex(' '), block.toHex(' '));
    }

    // Another's timer fires meanwhile, but only the deadline ends the yield, and waiting does not spin; a
    // click ends it.
    void deadlineWithoutData() {
        QtEventPump pump(clock_);
        bool fired = false;
        QTimer::singleShot(20, [&] { fired = true; });
        double deadline = clock_.Now() + 0.3;
        const double cpu = CpuSeconds();
        pump.YieldUntil(deadline);
        QVERIFY(fired);
        QVERIFY(clock_.Now() >= deadline && clock_.Now() < deadline + 1.0);
        QVERIFY2(CpuSeconds() - cpu < 0.1, "the yield kept the processor busy");

        QObject button;
        QTimer::singleShot(100, &button, [&] {
            QCoreApplication::postEvent(&button, new QEvent(QEvent::MouseButtonRelease));
        });
        deadline = clock_.Now() + 1.0;
        pump.YieldUntil(deadline);
        QVERIFY2(clock_.Now() < deadline - 0.5, "the click did not end the yield");
        // Its timer still runs for that deadline: a yield to a later one is waited out all the same.
        const double later = deadline + 0.3;
        pump.YieldUntil(later);
        QVERIFY(clock_.Now() >= later);
    }

    // The cable pulled: the port closes itself, sending is harmless, and waiting does not spin.
    void vanishedDevice() {
        Line l(clock_);
        QVERIFY(l.Open());
        l.pty.CloseMaster();
        const double giveUp = clock_.Now() + 3.0;
        while (l.port.IsOpen() && clock_.Now() < giveUp)
            l.pump.YieldUntil(clock_.Now() + 0.1);
        QVERIFY(!l.port.IsOpen());

        const std::uint8_t command[] = {0x84, 0x00};
        l.port.Transmit(command);
        const double cpu = CpuSeconds();
        const double deadline = clock_.Now() + 0.3;
        l.pump.YieldUntil(deadline);
        QVERIFY(clock_.Now() >= deadline);
        QVERIFY2(CpuSeconds() - cpu < 0.1, "the event loop spins on the dead port");
        QVERIFY(l.received.isEmpty());
    }

    // The second opener of one cable is refused at once, and the real lookups on this machine's /proc, lock
    // folder and device file name the holder: this very process, through its cable lock.
    void openFailuresAndTheirCause() {
        SerialPort missing;
        PortOpenError error;
        QVERIFY(!missing.Open(QStringLiteral("/dev/kav-no-such-device"), &error));
        QCOMPARE(error.code, QSerialPort::DeviceNotFoundError);

        Pty pty;
        QVERIFY(pty.IsOpen());
        SerialPort first;
        QVERIFY2(first.Open(pty.slave, &error), qPrintable(error.systemText));
        SerialPort second;
        QVERIFY(!second.Open(pty.slave, &error));
        QCOMPARE(error.code, QSerialPort::PermissionError);

        const LinuxPortSystem system;
        const qint64 self = QCoreApplication::applicationPid();
        const DeviceNodeRecord node = system.DeviceNode(pty.slave);
        QVERIFY(node.exists && node.readWrite && !node.group.isEmpty());
        const auto processes = system.Processes(pty.slave);
        QVERIFY(std::any_of(processes.begin(), processes.end(),
                            [&](const ProcessRecord& p) { return p.pid == self && p.holdsPort; }));
        const auto locks = system.PortLocks(pty.slave);  // ours, and the port's own "LCK.." file
        QVERIFY(std::any_of(locks.begin(), locks.end(),
                            [&](const PortLockRecord& l) { return l.pid == self && !l.cableLock; }));
        const CableDiagnosis d = DiagnoseOpenFailure(system, pty.slave, error);
        QCOMPARE(int(d.cause), int(CableCause::HeldByKavUpdate));
        QCOMPARE(d.pid, self);

        first.Close();
        QVERIFY(system.PortLocks(pty.slave).empty());
        QVERIFY2(second.Open(pty.slave, &error), qPrintable(error.systemText));
    }

    // What --port names decides whether the demo firmware may be written.
    void pseudoTerminalIsTheSimulatedDc_data() {
        QTest::addColumn<QString>("what");
        QTest::addColumn<bool>("simulated");
        QTest::newRow("pty slave") << "pty" << true;
        QTest::newRow("symlink to a pty slave") << "link" << true;
        QTest::newRow("pty master side") << "/dev/ptmx" << false;
        QTest::newRow("/dev/null") << "/dev/null" << false;
        QTest::newRow("regular file") << "file" << false;
        QTest::newRow("missing") << "/dev/kav-no-such-device" << false;
    }
    void pseudoTerminalIsTheSimulatedDc() {
        QFETCH(QString, what);
        Pty pty;
        QTemporaryDir dir;
        QVERIFY(pty.IsOpen() && QFile::link(pty.slave, dir.filePath("link")) &&
                QFile(dir.filePath("file")).open(QIODevice::WriteOnly));
        QTEST(IsPseudoTerminal(what == "pty"          ? pty.slave
                               : what.startsWith('/') ? what
                                                      : dir.filePath(what)),
              "simulated");
    }

    void lowLatency_data() {
        QTest::addColumn<int>("flags");  // -1: no serial settings
        QTest::addColumn<bool>("refuse");
        QTest::addColumn<bool>("follows");
        QTest::addColumn<int>("timer");  // -1: none
        QTest::addColumn<bool>("granted");
        QTest::addColumn<int>("timerAfter");
        QTest::newRow("pseudo-terminal") << -1 << false << true << -1 << false << -1;
        QTest::newRow("FTDI: the flag brings the timer to 1 ms") << 0x40 << false << true << 16 << true << 1;
        QTest::newRow("the driver ignores the flag") << 0 << false << false << 16 << true << 16;
        QTest::newRow("the flag refused") << 0x40 << true << true << 16 << false << 16;
        QTest::newRow("already on: left on") << (kLowLatencyFlag | 0x40) << false << true << 16 << true << 1;
        QTest::newRow("no latency timer") << 0 << false << true << -1 << true << -1;
    }
    // Asked for at open, read back, explained when the timer stays slow, given back at close.
    void lowLatency() {
        QFETCH(int, flags);
        QFETCH(bool, refuse);
        QFETCH(bool, follows);
        QFETCH(int, timer);
        QFETCH(bool, granted);
        QFETCH(int, timerAfter);
        FakeDriver driver(flags, refuse, follows, timer);
        Pty pty;
        SerialPort port(nullptr, &driver);
        QString heard;
        port.OnOpened = [&heard](const LowLatency& l) { heard = l.Summary(); };
        QVERIFY(pty.IsOpen() && port.Open(pty.slave, nullptr));
        QCOMPARE(port.Latency().granted, granted);
        QCOMPARE(port.Latency().timerMs.value_or(-1), timerAfter);
        QCOMPARE(heard.contains(QStringLiteral("70-kav-interface.rules")), timerAfter > 1);
        port.Close();
        QCOMPARE(driver.flags, flags);  // given back as they were
        if (flags >= 0)
            QCOMPARE(RequestLowLatency(driver, -1, QStringLiteral("/dev/ttyUSB3")).timerPath,
                     QStringLiteral("/sys/class/tty/ttyUSB3/device/latency_timer"));
    }
};

QTEST_GUILESS_MAIN(TestSerialPort)
#include "test_serial_port.moc"
