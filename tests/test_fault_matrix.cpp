// Faults during whole updates, on the simulated DC and the virtual clock: every fault at every phase (the
// matrix), then one random fault at a random frame in each of many runs (the campaign). Every run must end;
// exit status 0 only with the new firmware in, the profile back, no backup left and the DC out of Deep
// Sleep; the profile in the DC byte for byte, put back by the recovery at Close or by a later run, or kept in
// its backup file byte for byte. Close answered Yes stops the update within the transaction in flight, and
// the update's finish (the clock, leaving Deep Sleep) goes out before the recovery. The matrix prints phase x
// fault -> exit status, where the profile came from. KAV_CAMPAIGN_RUNS sets the campaign's runs (`make
// soak`), KAV_CAMPAIGN_SEED its seed, printed either way; KAV_CAMPAIGN_RUN repeats one run of it.
#include <QtTest>
#include <cstdio>
#include <random>

#include "fakes/wired_wizard.h"

namespace {

// The faults a test starts while the wizard runs, as the frame that starts them is about to go out.
enum Fault { PowerLoss, CablePulled, Refusals, Noise, Pieces, CloseYes, LostFrames, LateReply, kFaults };
const char* const kFaultNames[] = {"power loss", "cable pulled", "refusals",    "line noise",
                                   "in pieces",  "Close, Yes",   "lost frames", "late reply"};

// size: refusals of each command and phase, frames lost, or the first piece of a reply; seconds: how late the
// reply comes. Close is clicked while that frame waits for its reply (atClose: the frames sent by then),
// answered Yes, then the recovery Yes, OK, OK and no answer.
void StartFault(WiredWizard& w, Fault fault, int size, double seconds, std::size_t& atClose) {
    DcFaults& f = w.f.sim.Device().Faults();
    const int next = w.f.sim.Device().FrameCount() + 1;
    switch (fault) {
        case PowerLoss:
            f.silentFromFrame = next;
            break;
        case CablePulled:
            w.f.sim.Serial().Unplug();
            break;
        case Refusals:
            for (const int command : {0x84, 0xA8, 0xBA, 0xB4, 0xB5, 0xB7, 0xB2, 0xB6, 0xB8, 0xB9, 0x97}) {
                for (const DcPhase half : {DcPhase::Command, DcPhase::Data})
                    f.refusals.push_back({std::uint8_t(command), half, size});
            }
            break;
        case Noise:
            f.strayByte = 0x3F, w.f.sim.StartChatter();
            break;
        case Pieces:
            f.splitSizes = {size, 3, 2};
            break;
        case CloseYes:
            w.During([&w, &atClose] {
                atClose = w.f.sim.Sent().size();
                w.f.view.answers = {BoxAnswer::Yes, BoxAnswer::Yes, BoxAnswer::Ok, BoxAnswer::Ok,
                                    BoxAnswer::None};
                w.machine->CloseClick();
            });
            break;
        case LostFrames:
            f.silenceStartFrame = next, f.silenceFrameCount = size;
            break;
        case LateReply:
            f.lateFrame = next, f.lateBy = seconds;
            break;
        case kFaults:
            break;
    }
}

// A phase starts with the nth frame of its kind in a run without faults (from the end when negative), or
// `delay` seconds after it.
// clang-format off
struct Phase { const char* name; std::uint8_t command; std::size_t length; int nth; double delay = 0;
               bool retry = false; };
const Phase kPhases[] = {
    {"identification", 0x84, 2, 1}, {"Deep Sleep", 0xA8, 3, 0}, {"backup, start", 0xB4, 4, 0},
    {"backup, middle", 0xB4, 4, 3}, {"backup, end", 0xB4, 4, 6}, {"upload, start", 0xB5, 4, 0},
    {"upload, middle", 0xB5, 4, 4}, {"upload, end", 0xB6, 4, 0}, {"restart wait", 0xB6, 4, 0, 4.0},
    {"verification", 0x84, 2, 2}, {"restore, start", 0xB5, 4, 8}, {"restore, middle", 0xB5, 4, 10},
    {"restore, end", 0xB5, 4, 13}, {"record retry", 0xB2, 4, 0, 0, true}, {"header write", 0xB2, 4, -1},
    {"read-back", 0xB4, 4, -1}, {"clock", 0x97, 2, -1}, {"leaving Deep Sleep", 0xA8, 3, -1}};
// clang-format on

bool IsClockRecord(const std::vector<Bytes>& sent, std::size_t i) {
    return sent[i].size() == 10 && i > 0 && sent[i - 1] == Bytes{0x97, 0x00};
}

// After a Close, up to the update's end: at most the transaction in flight goes on (a write's data after its
// address), then only the finish: the clock and leaving Deep Sleep, in that order and last (each sent again
// while a restarting DC does not answer).
QString AfterClose(const std::vector<Bytes>& sent, std::size_t close, std::size_t end, bool updateRan) {
    std::vector<Bytes> work;
    for (std::size_t i = close; i < end; ++i) {
        if (sent[i] != Bytes{0x97, 0x00} && !IsClockRecord(sent, i) && sent[i] != Bytes{0xA8, 0x99, 0x00})
            work.push_back(sent[i]);
    }
    const bool dataAfterAddress = work.size() == 2 && work[0].size() == 4 &&
                                  (work[0][0] == 0xB5 || work[0][0] == 0xB7 || work[0][0] == 0xB2) &&
                                  (work[1].size() == 130 || work[1].size() == 18);
    if (work.size() > 1 && !dataAfterAddress)
        return QStringLiteral("%1 FRAMES AFTER CLOSE").arg(work.size());
    std::size_t i = end;  // the finish may have been under way at the Close
    const auto skip = [&](const Bytes& frame) {
        const std::size_t from = i;
        while (i > 0 && sent[i - 1] == frame)
            --i;
        return i < from;
    };
    const bool left = skip({0xA8, 0x99, 0x00});
    if (i > 0 && IsClockRecord(sent, i - 1))
        --i;
    const bool finished = left && skip({0x97, 0x00});
    return updateRan && !finished ? QStringLiteral("NO FINISH") : QString();
}

std::size_t FrameOf(const std::vector<Bytes>& sent, const Phase& p) {
    std::vector<std::size_t> of;
    for (std::size_t i = 0; i < sent.size(); ++i)
        if (sent[i].size() == p.length && sent[i][0] == p.command)
            of.push_back(i + 1);
    const auto at = p.nth < 0 ? std::ptrdiff_t(of.size()) + p.nth : std::ptrdiff_t(p.nth);
    return at >= 0 && at < std::ptrdiff_t(of.size()) ? of[std::size_t(at)] : 0;
}

struct Plan {
    TestFirmware fw;
    DcConfig dc;            // the DC and its true profile
    bool waiting = false;   // a backup of the true profile waits; the DC holds another one
    Fault fault = kFaults;  // none
    std::size_t frame = 0;
    int size = 0;  // the fault's own measure: refusals, frames lost, a piece's bytes
    double seconds = 0;
    double delay = 0;       // the fault starts this long after its frame goes out
    bool laterRun = false;  // a backup left is put back by the next run of the program

    QString Describe() const {
        return QString::asprintf("kind %d, %d KB, profile %d:%d%s; %s at frame %zu (%d, %.3f s)",
                                 int(fw.kind), fw.memory, dc.profileStart, dc.profileEnd,
                                 waiting ? ", a backup waiting" : "", kFaultNames[fault], frame, size,
                                 seconds);
    }
};

Plan Draw(std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    const auto pick = [&rng](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(rng);
    };
    Plan p;
    p.fw.kind = TestKind(pick(0, 2));
    p.fw.blocks = pick(1, 8);
    p.fw.memory = pick(0, 1) ? 1024 : 512;
    if (p.fw.kind != TestKind::CodeOnly)
        p.fw.minVersion = "1A05";  // with a sub-version
    p.dc.memoryCode = p.fw.memory;
    p.dc.subVersion = 3, p.dc.subVersionAfterUpdate = 5;
    p.dc.seed = std::uint32_t(pick(1, 1 << 30));
    p.dc.serialNumber = pick(100000, 999999);
    const int blocks = pick(0, 12);  // none: an empty profile
    p.dc.profileStart = 256 + 8 * pick(0, blocks ? 40 : 0) + pick(0, 7);
    p.dc.profileEnd = blocks ? p.dc.profileStart + 8 * blocks - pick(1, 7) : p.dc.profileStart;
    p.waiting = blocks > 0 && pick(0, 2) == 0;
    p.fault = Fault(pick(0, kFaults - 1));
    const int images = p.fw.kind == TestKind::Both ? 2 : 1;
    // Page 1, identification, block 0, the profile, the image(s), the restart, the restore, the finish.
    const int frames = 2 + 3 + blocks + images * (2 * p.fw.blocks + 4) + 2 * blocks + 8;
    p.frame = std::size_t(pick(1, frames));
    p.size = p.fault == Refusals ? pick(1, 30) : p.fault == LostFrames ? pick(1, 15) : pick(1, 5);
    // Late, yet within the time the link allows a reply that went unanswered: whatever comes later is lost.
    p.seconds = pick(100, int(DeviceLink::kLateReplySeconds * 1000) - 100) / 1000.0;
    return p;
}

// Page 1, page 2 with the fault starting at its frame, then Close with the DC back as it was for the
// recovery; while a backup is left, a later run. The exit status and where the profile was put back ("in DC":
// it never left; "Close"; "later run"), or what broke, in capitals.
QString Run(const Plan& p, std::vector<Bytes>* sent = nullptr) {
    DcConfig start = p.dc;
    if (p.waiting)
        start.seed = p.dc.seed + 1;  // the same DC, its profile not yet back from an earlier update
    WiredWizard w(start, p.fw);
    const auto truth = DcModel(p.dc).Memory();
    const QByteArray backup = ExpectedBackupFile(truth, p.fw.memory);
    const QString file = w.f.appDir.filePath(QStringLiteral("513.%1.bin").arg(p.dc.serialNumber));
    if (p.waiting)
        w.f.PlaceFile(backup, file);
    const int first = p.dc.profileStart / 8 * 8, last = p.dc.profileEnd / 8 * 8 + 7;
    const bool empty = p.dc.profileStart == p.dc.profileEnd;
    const auto intact = [&] {
        const auto& m = w.f.sim.Device().Memory();
        return Units(m, 4, 4) == Units(truth, 4, 4) &&
               (empty || Units(m, first, last) == Units(truth, first, last));
    };
    std::size_t atClose = 0, atRecovery = 0;
    w.f.sim.Serial().BeforeTransmit = [&](std::size_t n) {
        if (n != p.frame)
            return;
        if (p.delay > 0)
            w.f.sim.ScheduleAt(w.f.clock.Now() + p.delay,
                               [&] { StartFault(w, p.fault, p.size, 0, atClose); });
        else
            StartFault(w, p.fault, p.size, p.seconds, atClose);
        w.f.sim.Serial().BeforeTransmit = nullptr;
    };
    bool inDc = false, recovering = false;
    w.f.view.onBox = [&](const RecordingView::Box& box) {
        if (box.style == kBoxYesNoWarning && box.title == w.f.Text(Txt::ProfileRecovery) && !recovering) {
            recovering = true;  // as Close found the DC
            inDc = intact();
            atRecovery = w.f.sim.Sent().size();
        }
    };
    const auto wizard = [&](std::deque<BoxAnswer> answers) {  // never No, never Cancel
        if (!w.machine->Load())
            return -2;
        w.machine->NextClick();
        w.machine->NextClick();
        if (!recovering)
            inDc = intact();
        w.f.sim.Device().Faults() = DcFaults{};
        w.f.sim.Serial().Plug();
        if (w.f.view.answers.empty())
            w.f.view.answers = std::move(answers);
        w.machine->CloseClick();
        return w.machine->Ended() && w.f.clock.Now() < 3600 ? w.machine->ExitCode() : -1;
    };
    const QString success = w.f.Text(Txt::UpdateSucceeded);  // Close closes the texts
    const int exit = wizard({BoxAnswer::Yes, BoxAnswer::Ok, BoxAnswer::Ok, BoxAnswer::None});
    if (exit < 0)
        return exit == -2 ? QStringLiteral("START-UP FAILED") : QStringLiteral("DID NOT END");
    if (p.fault == CloseYes && (atClose > 0 || p.laterRun)) {  // a random frame may come after the update
        const auto& frames = w.f.sim.Sent();
        const QString wrong =
            AfterClose(frames, atClose, recovering ? atRecovery : frames.size(), w.machine->UpdateHasRun());
        if (atClose == 0 || !wrong.isEmpty())
            return atClose == 0 ? QStringLiteral("NO CLOSE") : wrong;
        if (w.f.sim.Device().DataPhasesCut() > 0)
            return QStringLiteral("DATA AFTER ADDRESS LEFT OUT");
    }
    // The rows, the exit status and the history tell one story.
    if (const auto& attempt = w.machine->LastAttempt()) {
        using Outcome = UpdateAttempt::Outcome;
        const bool rows =
            std::ranges::any_of(w.f.view.rows, [&](const auto& r) { return r.event == success; });
        const bool history = attempt->outcome == Outcome::Succeeded;
        const bool failed = attempt->outcome == Outcome::Failed || attempt->outcome == Outcome::Closed;
        if (rows != (exit == ExitUpdateSucceeded) || rows != history ||
            failed == attempt->failedStep.isEmpty() ||
            (history && attempt->backup == UpdateAttempt::BackupFate::KeptForRecovery))
            return QStringLiteral("ROWS, STATUS AND HISTORY DISAGREE: %1 %2 %3 %4")
                .arg(rows)
                .arg(exit)
                .arg(OutcomeName(attempt->outcome), attempt->failedStep);
    }
    const DcModel& dc = w.f.sim.Device();
    const bool untouched = inDc, closed = intact(), kept = QFile::exists(file);
    if (kept && FileBytes(file) != backup)
        return QStringLiteral("BACKUP FILE WRONG");
    if (!closed && !kept)
        return QStringLiteral("PROFILE LOST");
    if (exit == ExitUpdateSucceeded) {
        const bool firstIn = p.fw.kind == TestKind::Code2Only || dc.IdText().substr(6, 3) == "V1B";
        const bool secondIn = p.fw.kind == TestKind::CodeOnly || dc.SubVersion() == 5;
        if (!firstIn || !secondIn)
            return QStringLiteral("SUCCESS CLAIMED, FIRMWARE NOT IN");
        if (!closed || kept || dc.DeepSleep())
            return QStringLiteral("SUCCESS CLAIMED, %1")
                .arg(!closed ? "PROFILE NOT BACK"
                     : kept  ? "BACKUP LEFT"
                             : "IN DEEP SLEEP");
    }
    if (sent)
        *sent = w.f.sim.Sent();
    if (kept && p.laterRun) {
        recovering = false;
        w.NewRun();
        if (wizard({BoxAnswer::Yes, BoxAnswer::Ok, BoxAnswer::None}) < 0 || !intact() || QFile::exists(file))
            return QStringLiteral("PROFILE LOST IN A LATER RUN");
    }
    return QString::number(exit) + (exit == 0         ? ""
                                    : untouched       ? " in DC"
                                    : closed && !kept ? " Close"
                                                      : " later run");
}

// A phase of the matrix with one fault; the record retry needs a profile whose block at stored address 3072
// is refused, and an upload over it that does not use that address itself.
Plan AtPhase(const Phase& phase, Fault fault, std::size_t frame) {
    Plan p;
    p.dc = phase.retry ? ProfileDc(3320, 3360) : ProfileDc(256, 303);  // six blocks either way
    if (phase.retry)
        p.dc.faults.refusals = {{0xB5, DcPhase::Data, 4, 3072}};
    p.fw.firstWord = std::uint16_t(phase.retry ? 3068 : 0);
    p.fault = fault, p.frame = frame, p.delay = phase.delay, p.laterRun = true;
    p.size = fault == Pieces ? 1 : 30;  // pieces of 1, 3, 2 and the rest; refusals beyond every limit
    return p;
}

std::uint64_t Setting(const char* name, std::uint64_t fallback) {
    bool ok = false;
    const std::uint64_t value = qEnvironmentVariable(name).toULongLong(&ok);
    return ok ? value : fallback;
}

}  // namespace

class FaultMatrixTest : public QObject {
    Q_OBJECT

private slots:
    void everyFaultAtEveryPhase() {
        std::vector<Bytes> plain[2];
        QCOMPARE(Run(AtPhase(kPhases[0], kFaults, 0), &plain[0]), "0");
        QCOMPARE(Run(AtPhase(kPhases[13], kFaults, 0), &plain[1]),
                 "1 Close");  // the records never confirm a block
        QStringList errors;
        std::printf("%-20s| %-14s| %-14s| %-14s| %-14s| %-14s| %s\n", "phase \\ fault", kFaultNames[0],
                    kFaultNames[1], kFaultNames[2], kFaultNames[3], kFaultNames[4], kFaultNames[5]);
        for (const Phase& phase : kPhases) {
            const std::size_t frame = FrameOf(plain[phase.retry], phase);
            QVERIFY2(frame > 0, phase.name);
            std::printf("%-20s", phase.name);
            for (const Fault fault : {PowerLoss, CablePulled, Refusals, Noise, Pieces, CloseYes}) {
                const QString outcome = Run(AtPhase(phase, fault, frame));
                std::printf("| %-14s", qPrintable(outcome));
                if (outcome.front().isLetter())
                    errors << QStringLiteral("%1, %2: %3").arg(phase.name, kFaultNames[fault], outcome);
            }
            std::printf("\n");
        }
        std::fflush(stdout);
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join('\n')));
    }

    void randomFaultsAtRandomFrames() {
        const std::uint64_t seed = Setting("KAV_CAMPAIGN_SEED", std::random_device{}());
        const std::uint64_t runs = Setting("KAV_CAMPAIGN_RUNS", 2000);
        const bool one = qEnvironmentVariableIsSet("KAV_CAMPAIGN_RUN");
        const std::uint64_t from = one ? Setting("KAV_CAMPAIGN_RUN", 0) : 0, to = one ? from + 1 : runs;
        std::printf("fault campaign: seed %llu, runs %llu..%llu\n", static_cast<unsigned long long>(seed),
                    static_cast<unsigned long long>(from), static_cast<unsigned long long>(to - 1));
        std::fflush(stdout);
        int counts[kFaults] = {};
        QStringList errors;
        for (std::uint64_t run = from; run < to && errors.size() < 10; ++run) {
            const Plan plan = Draw(seed * 1000003u + run);
            ++counts[plan.fault];
            if (const QString outcome = Run(plan); outcome.front().isLetter())
                errors << QStringLiteral("run %1: %2: %3").arg(run).arg(outcome, plan.Describe());
        }
        for (int f = 0; f < kFaults; ++f)
            std::printf("  %-12s %d runs\n", kFaultNames[f], counts[f]);
        std::fflush(stdout);
        QVERIFY2(errors.isEmpty(), qPrintable(QStringLiteral("seed %1: ").arg(seed) + errors.join('\n')));
    }
};

QTEST_GUILESS_MAIN(FaultMatrixTest)
#include "test_fault_matrix.moc"
