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
    // What arrives within the time, up to count bytes.
    QByteArray Read(qsizetype count, int milliseconds) {
        QByteArray got;
        QElapsedTimer timer;
        timer.start();
        while (got.size() < count && timer.elapsed() < milliseconds) {
            pollfd probe{master_, POLLIN, 0};
            if (::poll(&probe, 1, static_cast<int>(milliseconds - timer.elapsed())) != 1)
                break;
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

}  // namespace

class TestSerialPort : public QObject {
    Q_OBJECT

    SystemClock clock_;

private slots:
    void receiveThroughYield() {
        Pty pty;
        QVERIFY(pty.IsOpen());
        QtEventPump pump(clock_);
        SerialPort port(&pump);
        QByteArray received;
        int notifications = 0;
        port.OnData = [&](std::span<const std::uint8_t> bytes) {
            ++notifications;
            received.append(reinterpret_cast<const char*>(bytes.data()),
                            static_cast<qsizetype>(bytes.size()));
        };
        QString error;
        QVERIFY2(port.Open(pty.Slave(), &error), qPrintable(error));
        QVERIFY(port.IsOpen());

        QVERIFY(pty.Write(kAwkward));
        const double deadline = clock_.Now() + 5.0;
        pump.YieldUntil(deadline);
        QVERIFY2(clock_.Now() < deadline - 3.0, "the yield waited for its deadline although data came");
        QVERIFY(notifications >= 1);
        for (int pass = 0; pass < 50 && received.size() < kAwkward.size(); ++pass)
            pump.YieldUntil(clock_.Now() + 0.1);
        QCOMPARE(received.toHex(' '), kAwkward.toHex(' '));
    }

    void transmitReachesTheLine() {
        Pty pty;
        QVERIFY(pty.IsOpen());
        QtEventPump pump(clock_);
        SerialPort port(&pump);
        QString error;
        QVERIFY2(port.Open(pty.Slave(), &error), qPrintable(error));

        QByteArray block(257, '\0');
        for (int i = 0; i < block.size(); ++i)
            block[i] = static_cast<char>(i * 7);
        block.replace(0, kAwkward.size(), kAwkward);
        port.Transmit(std::span(reinterpret_cast<const std::uint8_t*>(block.constData()),
                                static_cast<std::size_t>(block.size())));
        // No event loop runs here: the bytes must have left at once.
        QCOMPARE(pty.Read(block.size(), 3000).toHex(' '), block.toHex(' '));
    }

    void lineSettings() {
        Pty pty;
        QVERIFY(pty.IsOpen());
        SerialPort port;
        QString error;
        QVERIFY2(port.Open(pty.Slave(), &error), qPrintable(error));

        const int fd = ::open(pty.Slave().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
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

    void deadlineWithoutData() {
        QtEventPump pump(clock_);
        const double deadline = clock_.Now() + 0.3;
        const double cpu = CpuSeconds();
        pump.YieldUntil(deadline);
        const double now = clock_.Now();
        QVERIFY(now >= deadline);
        QVERIFY(now < deadline + 1.0);
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

    // Other events (a timer of someone else's) do not end the yield.
    void otherEventsDoNotWake() {
        QtEventPump pump(clock_);
        bool fired = false;
        QTimer::singleShot(20, [&] { fired = true; });
        const double deadline = clock_.Now() + 0.3;
        pump.YieldUntil(deadline);
        QVERIFY(fired);
        QVERIFY(clock_.Now() >= deadline);
    }

    void sleepDeliversNothing() {
        Pty pty;
        QVERIFY(pty.IsOpen());
        QtEventPump pump(clock_);
        SerialPort port(&pump);
        QByteArray received;
        port.OnData = [&](std::span<const std::uint8_t> bytes) {
            received.append(reinterpret_cast<const char*>(bytes.data()),
                            static_cast<qsizetype>(bytes.size()));
        };
        QString error;
        QVERIFY2(port.Open(pty.Slave(), &error), qPrintable(error));

        QVERIFY(pty.Write(QByteArray("\x5A\x01", 2)));
        const double deadline = clock_.Now() + 0.2;
        pump.SleepUntil(deadline);
        QVERIFY(clock_.Now() >= deadline);
        QVERIFY(received.isEmpty());
        for (int pass = 0; pass < 50 && received.size() < 2; ++pass)
            pump.YieldUntil(clock_.Now() + 0.1);
        QCOMPARE(received, QByteArray("\x5A\x01", 2));
    }

    void discardDropsWaitingInput() {
        Pty pty;
        QVERIFY(pty.IsOpen());
        QtEventPump pump(clock_);
        SerialPort port(&pump);
        QByteArray received;
        port.OnData = [&](std::span<const std::uint8_t> bytes) {
            received.append(reinterpret_cast<const char*>(bytes.data()),
                            static_cast<qsizetype>(bytes.size()));
        };
        QString error;
        QVERIFY2(port.Open(pty.Slave(), &error), qPrintable(error));

        QVERIFY(pty.Write(QByteArray("stale")));
        pump.SleepUntil(clock_.Now() + 0.1);  // let it reach the port's queue
        port.Discard();
        pump.YieldUntil(clock_.Now() + 0.3);
        QVERIFY(received.isEmpty());
        QVERIFY(pty.Write(QByteArray("fresh")));
        for (int pass = 0; pass < 50 && received.size() < 5; ++pass)
            pump.YieldUntil(clock_.Now() + 0.1);
        QCOMPARE(received, QByteArray("fresh"));
    }

    // The cable pulled: the port closes itself, sending is harmless, and waiting does not spin.
    void vanishedDevice() {
        Pty pty;
        QVERIFY(pty.IsOpen());
        QtEventPump pump(clock_);
        SerialPort port(&pump);
        int notifications = 0;
        port.OnData = [&](std::span<const std::uint8_t>) { ++notifications; };
        QString error;
        QVERIFY2(port.Open(pty.Slave(), &error), qPrintable(error));

        pty.CloseMaster();
        const double giveUp = clock_.Now() + 3.0;
        while (port.IsOpen() && clock_.Now() < giveUp)
            pump.YieldUntil(clock_.Now() + 0.1);
        QVERIFY(!port.IsOpen());

        const std::uint8_t command[] = {0x84, 0x00};
        port.Transmit(command);
        port.Discard();
        const double cpu = CpuSeconds();
        const double deadline = clock_.Now() + 0.3;
        pump.YieldUntil(deadline);
        QVERIFY(clock_.Now() >= deadline);
        QVERIFY2(CpuSeconds() - cpu < 0.1, "the event loop spins on the dead port");
        QCOMPARE(notifications, 0);
        port.Transmit(command);
        port.Close();
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
        QTest::addColumn<int>("error");
        QTest::addColumn<bool>("readWrite");
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("expected");  // a part of the reason
        QTest::addColumn<QString>("absent");    // must not appear

        QTest::newRow("busy") << int(QSerialPort::PermissionError) << true << "dialout"
                              << "in use by another program"
                              << "group";
        QTest::newRow("not in the group") << int(QSerialPort::PermissionError) << false << "dialout"
                                          << "member of the group \"dialout\""
                                          << "in use";
        QTest::newRow("no group known") << int(QSerialPort::PermissionError) << false << ""
                                        << "permission denied"
                                        << "in use";
        QTest::newRow("not found") << int(QSerialPort::DeviceNotFoundError) << true << "dialout"
                                   << "no such device"
                                   << "group";
    }
    void failureReasons() {
        QFETCH(int, error);
        QFETCH(bool, readWrite);
        QFETCH(QString, group);
        QFETCH(QString, expected);
        QFETCH(QString, absent);
        const QString reason =
            OpenFailureReason(static_cast<QSerialPort::SerialPortError>(error),
                              DeviceAccess{readWrite, group}, QStringLiteral("Input/output error"));
        QVERIFY2(reason.contains(expected), qPrintable(reason));
        QVERIFY2(!reason.contains(absent), qPrintable(reason));
    }
};

QTEST_GUILESS_MAIN(TestSerialPort)
#include "test_serial_port.moc"
