// The serial port and the event pump on a real pseudo-terminal: the test holds the master side, the port
// opens the slave as it would open the cable.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>
#include <QtTest>
#include <ctime>

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
            ++notifications;
            received.append(reinterpret_cast<const char*>(bytes.data()),
                            static_cast<qsizetype>(bytes.size()));
        };
    }
    bool Open() {
        QString error;
        const bool opened = pty.IsOpen() && port.Open(pty.Slave(), &error);
        if (!opened)
            qWarning("%s", qPrintable(error));
        return opened;
    }
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
    int notifications = 0;
};

}  // namespace

class TestSerialPort : public QObject {
    Q_OBJECT

    SystemClock clock_;

private slots:
    void receiveThroughYield() {
        Line l(clock_);
        QVERIFY(l.Open());
        QVERIFY(l.port.IsOpen());
        QVERIFY(l.pty.Write(kAwkward));
        const double deadline = clock_.Now() + 5.0;
        l.pump.YieldUntil(deadline);
        QVERIFY2(clock_.Now() < deadline - 3.0, "the yield waited for its deadline although data came");
        QVERIFY(l.notifications >= 1);
        l.Collect(kAwkward.size());
        QCOMPARE(l.received.toHex(' '), kAwkward.toHex(' '));
    }

    void transmitReachesTheLine() {
        Line l(clock_);
        QVERIFY(l.Open());
        QByteArray block(257, '\0');
        for (int i = 0; i < block.size(); ++i)
            block[i] = static_cast<char>(i * 7);
        block.replace(0, kAwkward.size(), kAwkward);
        l.port.Transmit(std::span(reinterpret_cast<const std::uint8_t*>(block.constData()),
                                  static_cast<std::size_t>(block.size())));
        // No event loop runs here: the bytes must have left at once.
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
        QCOMPARE(::cfgetospeed(&tio), speed_t(B38400));
        QCOMPARE(::cfgetispeed(&tio), speed_t(B38400));
        QCOMPARE(tio.c_cflag & CSIZE, tcflag_t(CS8));
        QCOMPARE(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
        QCOMPARE(tio.c_iflag & (IXON | IXOFF | ICRNL), tcflag_t(0));
        QCOMPARE(tio.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0));
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

    // A click wakes a waiting yield, after the click has been handled.
    void userInputWakes() {
        struct Button : QObject {
            bool clicked = false;
            bool event(QEvent* e) override {
                if (e->type() == QEvent::MouseButtonRelease)
                    clicked = true;
                return QObject::event(e);
            }
        } button;
        QtEventPump pump(clock_);
        QTimer::singleShot(100, &button, [&] {
            QCoreApplication::postEvent(&button, new QEvent(QEvent::MouseButtonRelease));
        });
        const double deadline = clock_.Now() + 5.0;
        pump.YieldUntil(deadline);
        QVERIFY(button.clicked);
        QVERIFY2(clock_.Now() < deadline - 3.0, "the click did not end the yield");
    }

    void sleepDeliversNothing() {
        Line l(clock_);
        QVERIFY(l.Open());
        QVERIFY(l.pty.Write(QByteArray("\x5A\x01", 2)));
        const double deadline = clock_.Now() + 0.2;
        l.pump.SleepUntil(deadline);
        QVERIFY(clock_.Now() >= deadline);
        QVERIFY(l.received.isEmpty());
        l.Collect(2);
        QCOMPARE(l.received, QByteArray("\x5A\x01", 2));
    }

    void discardDropsWaitingInput() {
        Line l(clock_);
        QVERIFY(l.Open());
        QVERIFY(l.pty.Write(QByteArray("stale")));
        l.pump.SleepUntil(clock_.Now() + 0.1);  // let it reach the port's queue
        l.port.Discard();
        l.pump.YieldUntil(clock_.Now() + 0.3);
        QVERIFY(l.received.isEmpty());
        QVERIFY(l.pty.Write(QByteArray("fresh")));
        l.Collect(5);
        QCOMPARE(l.received, QByteArray("fresh"));
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
        l.port.Discard();
        const double cpu = CpuSeconds();
        const double deadline = clock_.Now() + 0.3;
        l.pump.YieldUntil(deadline);
        QVERIFY(clock_.Now() >= deadline);
        QVERIFY2(CpuSeconds() - cpu < 0.1, "the event loop spins on the dead port");
        QCOMPARE(l.notifications, 0);
        l.port.Transmit(command);
        l.port.Close();
    }

    void openFailures() {
        SerialPort missing;
        QString error;
        QVERIFY(!missing.Open(QStringLiteral("/dev/kav-no-such-device"), &error));
        QVERIFY2(error.contains(QStringLiteral("no such device")), qPrintable(error));
        QVERIFY(!missing.IsOpen());

        Pty pty;
        QVERIFY(pty.IsOpen());
        SerialPort first;
        QVERIFY2(first.Open(pty.Slave(), &error), qPrintable(error));
        SerialPort second;
        error.clear();
        QVERIFY(!second.Open(pty.Slave(), &error));
        QVERIFY2(error.contains(QStringLiteral("in use by another program")), qPrintable(error));
        first.Close();
        QVERIFY2(second.Open(pty.Slave(), &error), qPrintable(error));
    }

    void failureReasons_data() {
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("expected");  // a part of the reason
        QTest::addColumn<QString>("absent");    // must not appear
        const auto row = [](const char* tag, QSerialPort::SerialPortError error, bool readWrite,
                            const char* group, const char* expected, const char* absent) {
            QTest::newRow(tag) << OpenFailureReason(error,
                                                    DeviceAccess{readWrite, QString::fromLatin1(group)},
                                                    QStringLiteral("Input/output error"))
                               << QString::fromLatin1(expected) << QString::fromLatin1(absent);
        };
        row("busy", QSerialPort::PermissionError, true, "dialout", "in use by another program", "group");
        row("not in the group", QSerialPort::PermissionError, false, "dialout",
            "member of the group \"dialout\"", "in use");
        row("no group known", QSerialPort::PermissionError, false, "", "permission denied", "in use");
        row("not found", QSerialPort::DeviceNotFoundError, true, "dialout", "no such device", "group");
    }
    void failureReasons() {
        QFETCH(QString, reason);
        QFETCH(QString, expected);
        QFETCH(QString, absent);
        QVERIFY2(reason.contains(expected) && !reason.contains(absent), qPrintable(reason));
    }
};

QTEST_GUILESS_MAIN(TestSerialPort)
#include "test_serial_port.moc"
