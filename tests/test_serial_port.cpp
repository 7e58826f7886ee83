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
class Pty {
public:
    Pty() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0)
            slave_ = QString::fromLocal8Bit(::ptsname(master_));
    }
    ~Pty() { CloseMaster(); }
    bool IsOpen() const { return master_ >= 0 && !slave_.isEmpty(); }
    const QString& Slave() const { return slave_; }
    bool Write(const QByteArray& bytes) {
        return ::write(master_, bytes.constData(), static_cast<size_t>(bytes.size())) == bytes.size();
    }
    // Up to count bytes, until the line stays quiet for the time given.
    QByteArray Read(qsizetype count, int milliseconds) {
        QByteArray got;
        pollfd probe{master_, POLLIN, 0};
        while (got.size() < count && ::poll(&probe, 1, milliseconds) == 1) {
            char buffer[512];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0)
                break;
            got.append(buffer, static_cast<qsizetype>(n));
        }
        return got;
    }
    void CloseMaster() {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

private:
    int master_ = -1;
    QString slave_;
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
    bool Open() { return pty.IsOpen() && port.Open(pty.Slave(), nullptr); }
    // Yields until `count` bytes are in, for up to five seconds.
    void Collect(qsizetype count) {
        for (int pass = 0; pass < 50 && received.size() < count; ++pass)
            pump.YieldUntil(clock.Now() + 0.1);
    }

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
    // Received bytes end a yield early; sent ones leave at once, without the event loop.
    void roundTrip() {
        Line l(clock_);
        QVERIFY(l.Open());
        QVERIFY(l.pty.Write(kAwkward));
        const double deadline = clock_.Now() + 5.0;
        l.pump.YieldUntil(deadline);
        QVERIFY2(clock_.Now() < deadline - 3.0, "the yield waited for its deadline although data came");
        l.Collect(kAwkward.size());
        QCOMPARE(l.received.toHex(' '), kAwkward.toHex(' '));

        const QByteArray block = kAwkward.repeated(22);
        l.port.Transmit(std::span(reinterpret_cast<const std::uint8_t*>(block.constData()),
                                  static_cast<std::size_t>(block.size())));
        QCOMPARE(l.pty.Read(block.size(), 3000).toHex(' '), block.toHex(' '));
    }

    void lineSettings() {
        Line l(clock_);
        QVERIFY(l.Open());
        const int fd = ::open(l.pty.Slave().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        termios tio{};
        const bool got = ::tcgetattr(fd, &tio) == 0;
        ::close(fd);
        QVERIFY(got);
        // Raw input shows in the round trip's awkward bytes.
        QCOMPARE(::cfgetospeed(&tio), speed_t(B38400));
        QCOMPARE(tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8));
    }

    // Another's timer fires meanwhile, but only the deadline ends the yield, and waiting does not spin.
    void deadlineWithoutData() {
        QtEventPump pump(clock_);
        bool fired = false;
        QTimer::singleShot(20, [&] { fired = true; });
        const double deadline = clock_.Now() + 0.3;
        const double cpu = CpuSeconds();
        pump.YieldUntil(deadline);
        QVERIFY(fired);
        QVERIFY(clock_.Now() >= deadline && clock_.Now() < deadline + 1.0);
        QVERIFY2(CpuSeconds() - cpu < 0.1, "the yield kept the processor busy");
    }

    // A click ends a waiting yield.
    void userInputWakes() {
        QtEventPump pump(clock_);
        QObject button;
        QTimer::singleShot(100, &button, [&] {
            QCoreApplication::postEvent(&button, new QEvent(QEvent::MouseButtonRelease));
        });
        const double deadline = clock_.Now() + 5.0;
        pump.YieldUntil(deadline);
        QVERIFY2(clock_.Now() < deadline - 3.0, "the click did not end the yield");
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
        QVERIFY2(first.Open(pty.Slave(), &error), qPrintable(error.systemText));
        SerialPort second;
        QVERIFY(!second.Open(pty.Slave(), &error));
        QCOMPARE(error.code, QSerialPort::PermissionError);

        const LinuxPortSystem system;
        const qint64 self = QCoreApplication::applicationPid();
        const DeviceNodeRecord node = system.DeviceNode(pty.Slave());
        QVERIFY(node.exists && node.readWrite && !node.group.isEmpty());
        const auto processes = system.Processes(pty.Slave());
        QVERIFY(std::any_of(processes.begin(), processes.end(),
                            [&](const ProcessRecord& p) { return p.pid == self && p.holdsPort; }));
        const auto locks = system.PortLocks(pty.Slave());  // ours, and the port's own "LCK.." file
        QVERIFY(std::any_of(locks.begin(), locks.end(),
                            [&](const PortLockRecord& l) { return l.pid == self && !l.cableLock; }));
        const CableDiagnosis d = DiagnoseOpenFailure(system, pty.Slave(), error);
        QCOMPARE(int(d.cause), int(CableCause::HeldByKavUpdate));
        QCOMPARE(d.pid, self);

        first.Close();
        QVERIFY(system.PortLocks(pty.Slave()).empty());
        QVERIFY2(second.Open(pty.Slave(), &error), qPrintable(error.systemText));
    }
};

QTEST_GUILESS_MAIN(TestSerialPort)
#include "test_serial_port.moc"
