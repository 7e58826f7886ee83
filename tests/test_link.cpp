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
#include "fakes/rows.h"
#include "link/cable_diagnosis.h"
#include "link/port_system.h"
#include "link/qt_event_pump.h"
#include "link/serial_port.h"
#include "tools/dcsim/dc_model.h"

using Frames = std::vector<Bytes>;
using Meanwhile = std::function<void(LinkFixture&)>;  // set going before the run

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

// A block's data that a byte slipped or lost would change, their sum and the frame's end.
DeviceLink::BlockFrame BlockData() {
    DeviceLink::BlockFrame block{};
    for (int i = 0; i < 128; ++i)
        block[std::size_t(i)] = std::uint8_t(255 - i);
    block[128] = 0xC0;  // the data's sum
    return block;
}

// Reads a block: true when what came is the DC's.
bool ReadsBack(LinkFixture& f, int unit) {
    const auto block = f.link.ReadBlock(unit);
    return block && Bytes(block->begin(), block->end()) == f.sim.Device().Block(unit);
}

// Runs one routine of the link; a record skipped by the DC counts as done.
bool Run(LinkFixture& f, int routine) {
    DeviceLink& c = f.link;
    const DeviceLink::RecordFrame record{};
    const DeviceLink::BlockFrame block = BlockData();
    const std::uint8_t recordAddress[] = {dc::RecordAddress, 0x00, 0x04, 0x00};
    const std::uint8_t blockAddress[] = {dc::WriteBlock, 0x00, 0x00, 0x00};
    const std::function<bool()> routines[] = {
        [&] { return c.Identify() == QString::fromStdString(f.sim.Device().Config().idText); },
        [&] { return c.EnterDeepSleep(); },
        [&] { return c.LeaveDeepSleep(); },
        [&] { return c.ReadStatus().value_or(0) != 0; },
        [&] { return ReadsBack(f, 3072); },
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

// Yields until `seconds` from now: the deadline is kept, and waiting leaves the processor alone.
void YieldIdle(QtEventPump& pump, const Clock& clock, double seconds) {
    const std::clock_t cpu = std::clock();
    const double deadline = clock.Now() + seconds;
    pump.YieldUntil(deadline);
    QVERIFY(clock.Now() >= deadline && clock.Now() < deadline + 1.0);
    QVERIFY2(double(std::clock() - cpu) / CLOCKS_PER_SEC < 0.1, "waiting kept the processor busy");
}

// Bytes a terminal would mangle if any cooking, flow control or signal handling were left on.
const QByteArray kAwkward("\x00\x0A\x0D\x11\x13\x03\x1A\x5A\xA5\xFF\x7F\x04", 12);

// A port on the pty's slave, with a pump, collecting what it receives.
struct Line {
    explicit Line(Clock& c) : pump(c), port(&pump) {
        port.OnData = [this](std::span<const std::uint8_t> bytes) {
            received.append(reinterpret_cast<const char*>(bytes.data()),
                            static_cast<qsizetype>(bytes.size()));
        };
    }
    bool Open() { return pty.IsOpen() && port.Open(pty.slave, nullptr); }

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

using WireCases = Rows<int, Frames>;

// sendsAndTimeOuts: routine, faults, ok, sends, seconds (about, from the first send to the end), meanwhile.
using SendCases = Rows<int, DcFaults, bool, int, double, Meanwhile>;

// lowLatency: flags (-1: no serial settings), refuse, follows, timer (-1: none), granted, timerAfter.
using LatencyCases = Rows<int, bool, bool, int, bool, int>;

// oddDeliveries: routine, faults, taken, deliveries (what the replies came in), noisy.
using DeliveryCases = Rows<int, DcFaults, bool, int, bool>;

// lateAnswersNeverPassForTheNextCommand: faults (of the first read), sends, next (the next command goes this
// long after the first send).
using LateAnswerCases = Rows<DcFaults, int, double>;

// imageInstallsOnlyWithTheSumOfItsCheckBytes: first (B5 blocks closed by B6, else B7 blocks closed by B9),
// value, installed.
using InstallCases = Rows<bool, int, bool>;
using SimulatedLineCases = Rows<QString, bool>;

class TestLink : public QObject {
    Q_OBJECT

    SystemClock clock_;

private slots:
    void framesOnTheWire_data() {
        WireCases rows;
        rows.Add("identify", int(Identify), Frames{{0x84, 0x00}});
        rows.Add("enter deep sleep", int(Enter), Frames{{0xA8, 0x55, 0x00}});
        rows.Add("leave deep sleep", int(Leave), Frames{{0xA8, 0x99, 0x00}});
        rows.Add("status byte", int(Status), Frames{{0xBA, 0x00}});
        rows.Add("read unit 3072", int(Read3072), Frames{{0xB4, 0x0C, 0x00, 0x00}});
        const DeviceLink::BlockFrame data = BlockData();
        rows.Add("write unit 3080", int(Block),
                 Frames{{0xB5, 0x0C, 0x08, 0x00}, Bytes(data.begin(), data.end())});
        rows.Add("clock: 07/23/11 14:05:09, 233", int(SetClock),
                 Frames{{0x97, 0x00}, {0x11, 0x23, 0x07, 0x09, 0x05, 0x82, 0xE9, 0x00, 0xB4, 0x00}});
    }
    void framesOnTheWire() {
        const auto& [routine, wire] = WireCases::Fetch();
        LinkFixture f;
        QVERIFY(Run(f, routine));
        QCOMPARE(f.Sent(), wire);
    }

    // How often a command goes and how long the link waits. Silent, each send waits its time-out, the last
    // one too: its answer must not pass for the next command's. Refusals are answered at once; a lost frame
    // waits for its time-out; a block starts again from its address, four tries in all.
    void sendsAndTimeOuts_data() {
        SendCases rows;
        const auto row = [&rows](const char* name, int routine, const DcFaults& faults, bool ok, int sends,
                                 double seconds, const Meanwhile& meanwhile = {}) {
            rows.Add(name, routine, faults, ok, sends, seconds, meanwhile);
        };
        const DcFaults silent = SilentDc().faults;
        const auto refusing = [](std::uint8_t command, int count, DcPhase phase = DcPhase::Command) {
            return WithFaults([&](DcFaults& x) { x.refusals = {{command, phase, count}}; }).faults;
        };
        // The frame after the address is lost: the address's acknowledgement must not pass for that frame's.
        DcFaults lost;
        lost.silenceStartFrame = 2, lost.silenceFrameCount = 1;
        const DcPhase data = DcPhase::Data;
        row("identify: 12 requests 2 s apart", Identify, silent, false, 12, 24.0);
        row("deep sleep: 5 sends, 1 s each", Enter, silent, false, 5, 5.0);
        row("status byte: 12 requests 1 s apart", Status, silent, false, 12, 12.0);
        row("block read: 5 requests, 1 s", Read3072, silent, false, 5, 1.0);
        row("value command: 5 sends", B6, silent, false, 5, 5.0);
        row("record address: 12 sends, skipped", RecordAddr, silent, false, 12, 1.2);
        row("clock start: 5 sends", SetClock, silent, false, 5, 0.5);
        row("block address: 22 sends", Address, silent, false, 22, 4.4);
        // A whole identification or status reply that opens with A5 is a refusal, on the last send as well.
        const auto answering = [](double at, const Bytes& reply) {
            return Meanwhile([=](LinkFixture& f) { f.sim.InjectAt(at, reply); });
        };
        Bytes id(18, 0x41);
        id[0] = 0xA5;
        row("identification opening with A5", Identify, silent, false, 12, 22.5, answering(22.55, id));
        row("status reply opening with A5", Status, silent, false, 12, 11.5, answering(11.55, {0xA5, 0x07}));
        row("clock start refused: five sends", SetClock, refusing(0x97, 100), false, 5, 0.0);
        row("deep sleep refused once", Enter, refusing(0xA8, 1), true, 2, 0.0);
        row("record address refused: skipped", Record, refusing(0xB2, 1), true, 1, 0.0);
        row("record lost: sent again", Record, lost, true, 3, 0.2);
        row("block data refused three times", Block, refusing(0xB5, 3, data), true, 8, 0.0);
        row("block data never acknowledged: four tries", Block, refusing(0xB5, 100, data), false, 8, 0.0);
        // Its address goes again once the lost data's answer can no longer come.
        row("block data lost once: sent again with its address", Block, lost, true, 4,
            DeviceLink::kLateReplySeconds);
        // Close: the wait in flight ends with its own time-out, nothing is sent again nor later until the
        // link resumes; the clock and leaving Deep Sleep still go out, as often as they need.
        const Meanwhile close = [](LinkFixture& f) { f.sim.ScheduleAt(0.05, [&f] { f.stop.Ask(); }); };
        const std::pair<Routine, double> held[] = {
            {Identify, 2.0}, {Enter, 1.0},      {Status, 1.0}, {Read3072, 0.2}, {B6, 1.0},
            {B8, 1.0},       {RecordAddr, 0.1}, {Record, 0.1}, {Address, 0.2},  {Block, 0.2}};
        for (const auto& [routine, seconds] : held)
            rows.Add(qPrintable(QStringLiteral("Close in routine %1").arg(routine)), int(routine), silent,
                     false, 1, seconds, close);
        row("Close, leave Deep Sleep: not held back", Leave, silent, false, 5, 5.0, close);
        row("Close, clock: not held back", SetClock, silent, false, 5, 0.5, close);
    }
    void sendsAndTimeOuts() {
        const auto& [routine, faults, ok, sends, seconds, meanwhile] = SendCases::Fetch();
        LinkFixture f(WithFaults([given = faults](DcFaults& x) { x = given; }));
        // A run that spans midnight must not end early: the time-outs use the monotonic clock.
        f.clock.SetWallClock(QDateTime(QDate(2026, 12, 31), QTime(23, 59, 58)));
        if (meanwhile)
            meanwhile(f);
        QCOMPARE(Run(f, routine), ok);
        QCOMPARE(int(f.Sent().size()), sends);
        const auto& at = f.sim.SentTimes();
        const double span = f.clock.Now() - at.front();
        QVERIFY2(span > seconds && span < seconds + 0.1, qPrintable(QString::number(span)));
        for (std::size_t i = 1; i < at.size(); ++i)  // to a silent DC, resends wait for the time-out
            QVERIFY(!faults.silentFromFrame || at[i] - at[i - 1] > 0.09);
        // A frame sent again counted once, what went is what a run without faults sends, over and over.
        LinkFixture clean;
        QVERIFY(Run(clean, routine));
        Frames once = f.Sent();
        once.erase(std::unique(once.begin(), once.end()), once.end());
        for (std::size_t i = 0; i < once.size(); ++i)
            QCOMPARE(once[i], clean.Sent()[i % clean.Sent().size()]);
        if (!f.stop.Asked())
            return;
        const bool held = f.Sent().size() == 1;
        f.sim.Device().Faults() = DcFaults{};  // the DC answers again
        f.sim.Serial().ClearRecord();
        QCOMPARE(Run(f, routine), !held);
        QCOMPARE(f.Sent().empty(), held);
        f.stop.Clear();
        QVERIFY(Run(f, routine));
    }

    // Only a send left unanswered may still be answered: the next command waits until that answer can no
    // longer come, drops whatever came, and takes its own reply. A refusal, or an answer that came in time,
    // holds nothing up.
    void lateAnswersNeverPassForTheNextCommand_data() {
        LateAnswerCases rows;
        const auto late = [](double seconds) {
            return WithFaults([&](DcFaults& x) { x.lateFrame = 1, x.lateBy = seconds; }).faults;
        };
        DcFaults refused, lost;
        refused.refusals = {{0xB4, DcPhase::Command, 1}};
        lost.silenceStartFrame = 1, lost.silenceFrameCount = 1;
        const double settled = DeviceLink::kLateReplySeconds;
        rows.Add("refused once", refused, 3, 0.0);
        rows.Add("answered within its time-out", late(0.15), 2, 0.15);
        rows.Add("lost once", lost, 3, settled);
        rows.Add("answered 2.3 s late", late(2.3), 3, settled);
    }
    void lateAnswersNeverPassForTheNextCommand() {
        const auto& [faults, sends, next] = LateAnswerCases::Fetch();
        LinkFixture f(WithFaults([given = faults](DcFaults& x) { x = given; }));
        QVERIFY(ReadsBack(f, 3072));
        QVERIFY(ReadsBack(f, 0));
        QCOMPARE(int(f.Sent().size()), sends);
        QCOMPARE(f.link.LineNoise(), 0);
        const double after = f.sim.SentTimes().back() - f.sim.SentTimes().front();
        QVERIFY2(after >= next && after < next + 0.02, qPrintable(QString::number(after)));
    }

    // A reply in pieces is taken whole, an acknowledgement after a stray byte too: it is read from the start
    // of each delivery, a longer reply is not. Bytes that belong to no reply mark the line noisy, pieces do
    // not (nor do refusals and late replies: lateAnswersNeverPassForTheNextCommand).
    void oddDeliveries_data() {
        DeliveryCases rows;
        DcFaults idPieces, blockPieces, strayAck, stray, unasked;
        idPieces.splitSizes = {5, 5, 8};
        blockPieces.splitSizes = {1, 100, 28};  // the 5A alone, then positions 1 to 128
        strayAck.strayByte = 0x33, strayAck.strayBefore = 0xA8;
        stray.strayByte = 0x3F;
        unasked.chatter = true, unasked.chatterInterval = 0.003;
        rows.Add("identification in pieces", int(Identify), idPieces, true, 3, false);
        rows.Add("block in pieces", int(Read3072), blockPieces, true, 3, false);
        rows.Add("acknowledgement after a stray byte", int(Enter), strayAck, true, 2, true);
        rows.Add("a stray byte before each block reply", int(Read3072), stray, false, 10, true);
        rows.Add("bytes unasked", int(Enter), unasked, true, 2, true);
    }
    void oddDeliveries() {
        const auto& [routine, faults, taken, deliveries, noisy] = DeliveryCases::Fetch();
        LinkFixture f(WithFaults([given = faults](DcFaults& x) { x = given; }));
        QCOMPARE(Run(f, routine), taken);
        QCOMPARE(int(f.sim.Delivered().size()), deliveries);
        QCOMPARE(f.link.LineNoise() > 0, noisy);
    }

    // Midnight is hour 0, noon hour 12 with the afternoon bit.
    void hourByte() {
        QList<int> hours;
        for (const char* time : {"00:15:00", "11:59:59", "12:30:00", "23:59:59"})
            hours << BuildClockRecord("01/02/03", time, 233)[5];
        QCOMPARE(hours, (QList<int>{0x00, 0x11, 0x92, 0x91}));
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
        YieldIdle(pump, clock_, 0.3);
        QVERIFY(fired);

        QObject button;
        QTimer::singleShot(100, &button, [&] {
            QCoreApplication::postEvent(&button, new QEvent(QEvent::MouseButtonRelease));
        });
        const double deadline = clock_.Now() + 1.0;
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
        YieldIdle(l.pump, clock_, 0.3);
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
        SimulatedLineCases rows;
        rows.Add("kav-dc-sim's pty", "sim", true);
        rows.Add("symlink to it", "link", true);
        rows.Add("a pty another program holds (a bridge)", "pty", false);
        rows.Add("pty master side", "/dev/ptmx", false);
        rows.Add("/dev/null", "/dev/null", false);
        rows.Add("regular file", "file", false);
        rows.Add("missing", "/dev/kav-no-such-device", false);
    }
    void simulatedDcLine() {
        const auto& [what, simulated] = SimulatedLineCases::Fetch();
        Pty pty;
        QProcess sim;
        sim.start(QStringLiteral(KAV_DC_SIM_PATH), {});
        QVERIFY(sim.waitForReadyRead(5000));
        const QString line = QString::fromLocal8Bit(sim.readLine()).trimmed();
        QTemporaryDir dir;
        QVERIFY(pty.IsOpen() && QFile::link(line, dir.filePath("link")) &&
                QFile(dir.filePath("file")).open(QIODevice::WriteOnly));
        QCOMPARE(HeldBySimulatedDc(what == "pty"          ? pty.slave
                                   : what == "sim"        ? line
                                   : what.startsWith('/') ? what
                                                          : dir.filePath(what)),
                 simulated);
        sim.closeWriteChannel();
        QVERIFY(sim.waitForFinished(5000));
    }

    void lowLatency_data() {
        LatencyCases rows;
        rows.Add("pseudo-terminal", -1, false, true, -1, false, -1);
        rows.Add("FTDI: the flag brings the timer to 1 ms", 0x40, false, true, 16, true, 1);
        rows.Add("the driver ignores the flag", 0, false, false, 16, true, 16);
        rows.Add("the flag refused", 0x40, true, true, 16, false, 16);
        rows.Add("already on: left on", (kLowLatencyFlag | 0x40), false, true, 16, true, 1);
        rows.Add("no latency timer", 0, false, true, -1, true, -1);
    }
    // Asked for at open, read back, explained when the timer stays slow, given back at close.
    void lowLatency() {
        const auto& [flags, refuse, follows, timer, granted, timerAfter] = LatencyCases::Fetch();
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

    void imageInstallsOnlyWithTheSumOfItsCheckBytes_data() {
        InstallCases rows;
        // Check bytes F0 + 80 + 33 = 0x1A3; the rewritten unit counts once, with its last check byte.
        rows.Add("first image, matching sum", true, 0x01A3, true);
        rows.Add("first image, wrong sum", true, 0x01A4, false);
        rows.Add("first image, rewrite counted twice", true, 0x01A3 + 0x55, false);
        rows.Add("second image, matching sum", false, 0x01A3, true);
        rows.Add("second image, wrong sum", false, 0x01A4, false);
    }
    void imageInstallsOnlyWithTheSumOfItsCheckBytes() {
        const auto& [first, value, installed] = InstallCases::Fetch();
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
};

QTEST_GUILESS_MAIN(TestLink)
#include "test_link.moc"
