// The link: the device link against the simulated DC, the serial port on a real pseudo-terminal and why it
// would not open; and the simulated DC's own promises, which the suites driving it rely on.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <ctime>

#include "fakes/link_fixture.h"
#include "link/cable_diagnosis.h"
#include "link/port_system.h"
#include "link/qt_event_pump.h"
#include "link/serial_port.h"
#include "tools/dcsim/dc_model.h"

Q_DECLARE_METATYPE(Bytes)
Q_DECLARE_METATYPE(DcFaults)
using Frames = std::vector<Bytes>;

namespace {

// The routines of the link, B6 and B8 being its two value commands.
enum Routine {
    Identify,
    Enter,
    Leave,
    Status,
    Read3072,
    B6,
    RecordAddr,
    Record,
    SetClock,
    Address,
    B8,
    Block
};

// Runs one routine of the link; a record skipped by the DC counts as done.
bool Run(LinkFixture& f, int routine) {
    DeviceLink& c = f.link;
    const DeviceLink::RecordFrame record{};
    const DeviceLink::BlockFrame block{};
    const std::uint8_t recordAddress[] = {dc::RecordAddress, 0x00, 0x04, 0x00};
    const std::uint8_t blockAddress[] = {dc::WriteBlock, 0x00, 0x00, 0x00};
    const std::function<bool()> routines[] = {
        [&] { return c.Identify().has_value(); },
        [&] { return c.EnterDeepSleep(); },
        [&] { return c.LeaveDeepSleep(); },
        [&] { return c.ReadStatus().value_or(0) != 0; },
        [&] { return c.ReadBlock(3072).has_value(); },
        [&] { return c.SendValue(dc::CloseImage, 1); },
        [&] { return c.Run(dc::kRecordAddress, recordAddress).Acknowledged(); },
        [&] { return c.WriteRecord(4, record) != DeviceLink::RecordWrite::Failed; },
        [&] { return c.SetClock(BuildClockRecord("07/23/11", "14:05:09", 233)); },
        [&] { return c.Run(dc::kBlockAddress, blockAddress).Acknowledged(); },
        [&] { return c.SendValue(dc::Image2Parameter, 5); },
        [&] { return c.WriteBlock(3080, dc::WriteBlock, block); },
    };
    return routines[routine]();
}

// Up to count bytes, until the line stays quiet for the time given.
QByteArray ReadFor(int fd, qsizetype count, int milliseconds) {
    QByteArray got;
    char buffer[512];
    for (pollfd probe{fd, POLLIN, 0}; got.size() < count && ::poll(&probe, 1, milliseconds) == 1;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        got.append(buffer, qsizetype(n));
    }
    return got;
}

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

class TestLink : public QObject {
    Q_OBJECT

    SystemClock clock_;

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

    void silentDcTimesOut_data() {
        QTest::addColumn<int>("routine");
        QTest::addColumn<int>("sends");
        QTest::addColumn<double>("seconds");  // about, from the first send to the give-up
        QTest::addColumn<bool>("close");      // Close stops the link at 0.05 s, until it resumes
        // The last send is waited for too: its answer must not pass for the next command's.
        QTest::newRow("identify: 12 requests 2 s apart") << int(Identify) << 12 << 24.0 << false;
        QTest::newRow("deep sleep: 5 sends, 1 s each") << int(Enter) << 5 << 5.0 << false;
        QTest::newRow("status byte: 12 requests 1 s apart") << int(Status) << 12 << 12.0 << false;
        QTest::newRow("block read: 5 requests, 1 s") << int(Read3072) << 5 << 1.0 << false;
        QTest::newRow("value command: 5 sends") << int(B6) << 5 << 5.0 << false;
        QTest::newRow("record address: 12 sends, skipped") << int(RecordAddr) << 12 << 1.2 << false;
        QTest::newRow("clock start: 5 sends") << int(SetClock) << 5 << 0.5 << false;
        QTest::newRow("block address: 22 sends") << int(Address) << 22 << 4.4 << false;
        // Close: the wait in flight ends with its own time-out, nothing is sent again nor later until the
        // link resumes; the clock and leaving Deep Sleep still go out, as often as they need.
        const std::pair<Routine, double> held[] = {
            {Identify, 2.0}, {Enter, 1.0},      {Status, 1.0}, {Read3072, 0.2}, {B6, 1.0},
            {B8, 1.0},       {RecordAddr, 0.1}, {Record, 0.1}, {Address, 0.2},  {Block, 0.2}};
        for (const auto& [routine, seconds] : held)
            QTest::addRow("Close in routine %d", routine) << int(routine) << 1 << seconds << true;
        QTest::newRow("Close, leave Deep Sleep: not held back") << int(Leave) << 5 << 5.0 << true;
        QTest::newRow("Close, clock: not held back") << int(SetClock) << 5 << 0.5 << true;
    }
    void silentDcTimesOut() {
        QFETCH(int, routine);
        QFETCH(double, seconds);
        LinkFixture f(SilentDc());
        // A run that spans midnight must not end early: the time-outs use the monotonic clock.
        f.clock.SetWallClock(QDateTime(QDate(2026, 12, 31), QTime(23, 59, 58)));
        QFETCH(bool, close);
        if (close)
            f.sim.ScheduleAt(0.05, [&] { f.stop.Ask(); });
        QVERIFY(!Run(f, routine));
        QTEST(int(f.Sent().size()), "sends");
        const auto& at = f.sim.SentTimes();
        const double span = f.clock.Now() - at.front();
        QVERIFY2(span > seconds && span < seconds + 0.1, qPrintable(QString::number(span)));
        for (std::size_t i = 1; i + 1 < at.size(); ++i)
            QVERIFY(at[i] - at[i - 1] > 0.09);  // resends wait for the time-out
        if (!close)
            return;
        const bool held = f.Sent().size() == 1;
        f.sim.Device().Faults() = DcFaults{};  // the DC answers again
        f.sim.Serial().ClearRecord();
        QCOMPARE(Run(f, routine), !held);
        QCOMPARE(f.Sent().empty(), held);
        f.stop.Clear();
        QVERIFY(Run(f, routine));
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
        QFETCH(bool, aborts);
        LinkFixture f(WithFaults([&](DcFaults& x) {
            x.refusals = {{0xB5, DcPhase::Data, refusals}};
            x.silenceStartFrame = 2, x.silenceFrameCount = lost;
        }));
        DeviceLink::BlockFrame block{};
        for (int i = 0; i < 128; ++i)
            block[std::size_t(i)] = std::uint8_t(255 - i);
        block[128] = 0xC0;  // the data's sum
        QCOMPARE(f.link.WriteBlock(3080, dc::WriteBlock, block), !aborts);
        QTEST(int(f.Sent().size()), "frames");
        const Bytes data(block.begin(), block.end());
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
        QTest::newRow("record address refused: skipped") << int(Record) << 0xB2 << 1 << 1 << true << 0.1;
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

    // Only a send left unanswered may still be answered: the next command waits until that answer can no
    // longer come, drops whatever came, and takes its own reply. A refusal, or an answer that came in time,
    // holds nothing up.
    void lateAnswersNeverPassForTheNextCommand_data() {
        QTest::addColumn<int>("lateMs");  // the first read's reply this late; -1: the read is lost
        QTest::addColumn<bool>("refused");
        QTest::addColumn<int>("sends");
        QTest::addColumn<double>("next");  // the next command goes this long after the first send
        QTest::newRow("refused once") << 0 << true << 3 << 0.0;
        QTest::newRow("answered within its time-out") << 150 << false << 2 << 0.15;
        QTest::newRow("lost once") << -1 << false << 3 << DeviceLink::kLateReplySeconds;
        QTest::newRow("answered 0.5 s late") << 500 << false << 3 << DeviceLink::kLateReplySeconds;
        QTest::newRow("answered 2.3 s late") << 2300 << false << 3 << DeviceLink::kLateReplySeconds;
    }
    void lateAnswersNeverPassForTheNextCommand() {
        QFETCH(int, lateMs);
        QFETCH(bool, refused);
        QFETCH(double, next);
        LinkFixture f(WithFaults([&](DcFaults& x) {
            if (refused)
                x.refusals = {{0xB4, DcPhase::Command, 1}};
            else if (lateMs < 0)
                x.silenceStartFrame = 1, x.silenceFrameCount = 1;
            else
                x.lateFrame = 1, x.lateBy = lateMs / 1000.0;
        }));
        const auto& m = f.sim.Device().Memory();
        const auto block = [&](int unit) {
            return Bytes(m.begin() + unit * 16, m.begin() + unit * 16 + 128);
        };
        const auto first = f.link.ReadBlock(3072), second = f.link.ReadBlock(0);
        QVERIFY(first && second);
        QCOMPARE(Bytes(first->begin(), first->end()), block(3072));
        QCOMPARE(Bytes(second->begin(), second->end()), block(0));
        QTEST(int(f.Sent().size()), "sends");
        const double after = f.sim.SentTimes().back() - f.sim.SentTimes().front();
        QVERIFY2(after >= next && after < next + 0.02, qPrintable(QString::number(after)));
    }

    // Bytes that belong to no reply mark the line noisy; refusals, late replies and pieces do not.
    void lineNoise_data() {
        QTest::addColumn<DcFaults>("faults");
        QTest::addColumn<bool>("noisy");
        DcFaults stray, unasked, pieces, refused, late;
        stray.strayByte = 0x3F;
        unasked.chatter = true, unasked.chatterInterval = 0.003;
        pieces.splitSizes = {1, 3, 2};
        refused.refusals = {{0xB4, DcPhase::Command, 1}};
        late.lateFrame = 1, late.lateBy = 0.5;
        QTest::newRow("a stray byte before each reply") << stray << true;
        QTest::newRow("bytes unasked") << unasked << true;
        QTest::newRow("replies in pieces") << pieces << false;
        QTest::newRow("a refusal") << refused << false;
        QTest::newRow("a reply 0.5 s late") << late << false;
    }
    void lineNoise() {
        QFETCH(DcFaults, faults);
        LinkFixture f(WithFaults([&](DcFaults& x) { x = faults; }));
        for (const int unit : {3072, 0, 8, 16})
            f.link.ReadBlock(unit);
        QTEST(f.link.LineNoise() > 0, "noisy");
    }

    // A whole identification or status reply that opens with A5 is a refusal, on the last send as well.
    void wholeRefusalOnTheLastSend_data() {
        QTest::addColumn<int>("routine");
        QTest::addColumn<double>("at");  // after the last send
        QTest::addColumn<Bytes>("reply");
        Bytes id(18, 0x41);
        id[0] = 0xA5;
        QTest::newRow("identification") << int(Identify) << 22.5 << id;
        QTest::newRow("status byte") << int(Status) << 11.5 << Bytes{0xA5, 0x07};
    }
    void wholeRefusalOnTheLastSend() {
        QFETCH(int, routine);
        QFETCH(double, at);
        QFETCH(Bytes, reply);
        LinkFixture f(SilentDc());
        f.sim.InjectAt(at, reply);
        QVERIFY(!Run(f, routine));
        QCOMPARE(f.Sent().size(), std::size_t(12));
        QVERIFY(f.sim.SentTimes().back() < at);
    }

    // Midnight is hour 0, noon hour 12 with the afternoon bit.
    void hourByte() {
        QList<int> hours;
        for (const char* time : {"00:15:00", "11:59:59", "12:30:00", "23:59:59"})
            hours << BuildClockRecord("01/02/03", time, 233)[5];
        QCOMPARE(hours, (QList<int>{0x00, 0x11, 0x92, 0x91}));
    }

    void deepSleepAcknowledgementAfterAStrayByte() {
        LinkFixture f(WithFaults([](DcFaults& x) { x.strayByte = 0x33, x.strayBefore = 0xA8; }));
        QVERIFY(Run(f, Enter));
        QCOMPARE(f.Sent().size(), size_t(1));
        QCOMPARE(f.sim.Delivered().size(), size_t(2));
    }

    // Replies in pieces: the identification whole, a block at positions 1 to 128.
    void repliesInPieces() {
        LinkFixture id(WithFaults([](DcFaults& x) { x.splitSizes = {5, 5, 8}; }));
        QCOMPARE(id.link.Identify(), std::optional(QStringLiteral("KAV1F V1A 0512KB")));
        QCOMPARE(id.sim.Delivered().size(), size_t(3));
        LinkFixture f(WithFaults([](DcFaults& x) { x.splitSizes = {1, 100, 28}; }));
        const auto block = f.link.ReadBlock(8);
        QVERIFY(block);
        QCOMPARE(Bytes(block->begin(), block->end()), f.sim.Device().Block(8));
    }

    // Units and values that cannot go on the wire are refused without a frame.
    void invalidArgumentsSendNothing() {
        LinkFixture f;
        QVERIFY(!f.link.ReadBlock(-8));
        QVERIFY(!f.link.SendValue(dc::CloseImage, 70000));
        QVERIFY(!f.link.WriteBlock(40000, dc::WriteBlock, DeviceLink::BlockFrame{}));
        QVERIFY(f.Sent().empty());
    }

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
        QCOMPARE(ReadFor(l.pty.master, block.size(), 3000).toHex(' '), block.toHex(' '));
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
        QCOMPARE(error.code, PortOpenFailure::NotFound);

        Pty pty;
        QVERIFY(pty.IsOpen());
        SerialPort first;
        QVERIFY2(first.Open(pty.slave, &error), qPrintable(error.systemText));
        SerialPort second;
        QVERIFY(!second.Open(pty.slave, &error));
        QCOMPARE(error.code, PortOpenFailure::NoPermission);

        const OsPortSystem system;
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

    // What --port names decides whether the demo firmware may be written: only kav-dc-sim's line takes it.
    void simulatedDcLine_data() {
        QTest::addColumn<QString>("what");
        QTest::addColumn<bool>("simulated");
        QTest::newRow("kav-dc-sim's pty") << "sim" << true;
        QTest::newRow("symlink to it") << "link" << true;
        QTest::newRow("a pty another program holds (a bridge)") << "pty" << false;
        QTest::newRow("pty master side") << "/dev/ptmx" << false;
        QTest::newRow("/dev/null") << "/dev/null" << false;
        QTest::newRow("regular file") << "file" << false;
        QTest::newRow("missing") << "/dev/kav-no-such-device" << false;
    }
    void simulatedDcLine() {
        QFETCH(QString, what);
        Pty pty;
        QProcess sim;
        sim.start(QStringLiteral(KAV_DC_SIM_PATH), {});
        QVERIFY(sim.waitForReadyRead(5000));
        const QString line = QString::fromLocal8Bit(sim.readLine()).trimmed();
        QTemporaryDir dir;
        QVERIFY(pty.IsOpen() && QFile::link(line, dir.filePath("link")) &&
                QFile(dir.filePath("file")).open(QIODevice::WriteOnly));
        QTEST(HeldBySimulatedDc(what == "pty"          ? pty.slave
                                : what == "sim"        ? line
                                : what.startsWith('/') ? what
                                                       : dir.filePath(what)),
              "simulated");
        sim.closeWriteChannel();
        QVERIFY(sim.waitForFinished(5000));
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
        QFETCH(int, timerAfter);
        FakeDriver driver(flags, refuse, follows, timer);
        Pty pty;
        SerialPort port(nullptr, &driver);
        QString heard;
        port.OnOpened = [&heard](const LowLatency& l) { heard = l.Summary(); };
        QVERIFY(pty.IsOpen() && port.Open(pty.slave, nullptr));
        QTEST(port.Latency().granted, "granted");
        QCOMPARE(port.Latency().timerMs.value_or(-1), timerAfter);
        QCOMPARE(heard.contains(QStringLiteral("70-kav-interface.rules")), timerAfter > 1);
        port.Close();
        QCOMPARE(driver.flags, flags);  // given back as they were
        if (flags >= 0)
            QCOMPARE(RequestLowLatency(driver, -1, QStringLiteral("/dev/ttyUSB3")).timerPath,
                     QStringLiteral("/sys/class/tty/ttyUSB3/device/latency_timer"));
    }

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
            QCOMPARE(::write(fd, request, sizeof request), ssize_t{2});
            QCOMPARE(ReadFor(fd, 18, 3000).size(), 18);
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

QTEST_GUILESS_MAIN(TestLink)
#include "test_link.moc"
