// Every fault at every phase of an update, on the simulated DC and the virtual clock. In each cell the run
// ends, exit status 0 means the new firmware is in, the profile back and the DC out of Deep Sleep, and the
// profile ends up in the DC byte for byte: never gone, or put back by the recovery at Close or by a later
// run, with the DC back. Close answered Yes stops the update within the transaction in flight, and the
// update's finish (the clock, leaving Deep Sleep) goes out before the recovery. Prints the matrix: phase x
// fault -> exit status, where the profile came from.
#include <QtTest>
#include <cstdio>

#include "fakes/faults.h"

namespace {

// A phase starts with the nth frame of its kind in a run without faults (from the end when negative), or
// `delay` seconds after it. The record retry needs a profile whose block at stored address 3072 is refused,
// and an upload over it that does not use that address itself.
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

// Close arrives while the frame that started the phase waits for its reply; the frames sent by then are
// counted.
std::size_t framesAtClose = 0;

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

// The wizard (page 1, page 2, Close) with the fault starting at the given frame, the DC back for the recovery
// at Close and, when a backup is left, for a later run. The outcome names an error in capitals.
QString Run(const Phase& phase, Fault fault, std::size_t frame, std::vector<Bytes>* sent = nullptr) {
    DcConfig dc = phase.retry ? ProfileDc(3320, 3360) : ProfileDc(256, 303);  // six blocks either way
    if (phase.retry)
        dc.faults.refusals = {{0xB5, DcPhase::Data, 4, 3072}};
    WiredWizard w(dc, TestFirmware{.firstWord = std::uint16_t(phase.retry ? 3068 : 0)});
    const auto original = DcModel(dc).Memory();
    const int first = dc.profileStart / 8 * 8, last = dc.profileEnd / 8 * 8 + 7;
    const auto intact = [&] {
        const auto& m = w.f.sim.Device().Memory();
        return Units(m, 4, 4) == Units(original, 4, 4) &&
               Units(m, first, last) == Units(original, first, last);
    };
    const int size = fault == Pieces ? 1 : 30;  // pieces of 1, 3, 2 and the rest; refusals beyond every limit
    w.f.sim.Serial().BeforeTransmit = [&](std::size_t n) {
        if (fault == kFaults || n != frame)
            return;
        if (phase.delay > 0)
            w.f.sim.ScheduleAt(w.f.clock.Now() + phase.delay,
                               [&] { StartFault(w, fault, size, 0, &framesAtClose); });
        else
            StartFault(w, fault, size, 0, &framesAtClose);
        w.f.sim.Serial().BeforeTransmit = nullptr;
    };
    bool inDc = false, recovering = false;
    std::size_t framesAtRecovery = 0;
    framesAtClose = 0;
    w.f.view.onBox = [&](const RecordingView::Box& box) {
        if (box.style == MbYesNoWarning && box.title == w.f.Text(Txt::ProfileRecovery) && !recovering) {
            recovering = true;  // as Close found the DC
            inDc = intact();
            framesAtRecovery = w.f.sim.Sent().size();
        }
    };
    const auto wizard = [&](QList<int> answers) {
        if (!w.machine->Load())
            return -1;
        w.machine->NextClick();
        w.machine->NextClick();
        if (!recovering)
            inDc = intact();
        const DcModel& m = w.f.sim.Device();
        const bool done = m.IdText().substr(6, 3) == "V1B" && inDc && !m.DeepSleep();
        w.f.sim.Device().Faults() = DcFaults{};  // the DC back, as it was
        w.f.sim.Serial().Plug();
        w.f.view.answers.assign(answers.begin(), answers.end());
        w.machine->CloseClick();
        return w.machine->Ended() && (w.machine->ExitCode() != 0 || done) ? w.machine->ExitCode() : -1;
    };
    const int exit = wizard({IdYes, IdOk, IdOk, IdNoAnswer});
    const bool untouched = inDc, closed = intact(), backupLeft = QFile::exists(w.f.BackupPath());
    if (fault == CloseYes) {
        const auto& frames = w.f.sim.Sent();
        const QString wrong = AfterClose(frames, framesAtClose, recovering ? framesAtRecovery : frames.size(),
                                         w.machine->UpdateHasRun());
        if (framesAtClose == 0 || !wrong.isEmpty())
            return framesAtClose == 0 ? QStringLiteral("NO CLOSE") : wrong;
    }
    recovering = false;
    if (sent)
        *sent = w.f.sim.Sent();
    if (backupLeft)
        w.NewRun();
    if (exit < 0 || (backupLeft && wizard({IdYes, IdOk, IdNoAnswer}) < 0))
        return "EXIT STATUS LIED";
    if (!intact() || QFile::exists(w.f.BackupPath()) || w.f.clock.Now() > 3600)
        return "PROFILE LOST";
    return QString::number(exit) + (exit == 0               ? ""
                                    : untouched             ? " in DC"
                                    : closed && !backupLeft ? " Close"
                                                            : " later run");
}

std::size_t FrameOf(const std::vector<Bytes>& sent, const Phase& p) {
    std::vector<std::size_t> of;
    for (std::size_t i = 0; i < sent.size(); ++i)
        if (sent[i].size() == p.length && sent[i][0] == p.command)
            of.push_back(i + 1);
    const auto at = p.nth < 0 ? std::ptrdiff_t(of.size()) + p.nth : std::ptrdiff_t(p.nth);
    return at >= 0 && at < std::ptrdiff_t(of.size()) ? of[std::size_t(at)] : 0;
}

}  // namespace

class FaultMatrixTest : public QObject {
    Q_OBJECT

private slots:
    void everyFaultAtEveryPhase() {
        std::vector<Bytes> plain[2];
        QCOMPARE(Run(kPhases[0], kFaults, 0, &plain[0]), "0");
        QCOMPARE(Run(kPhases[13], kFaults, 0, &plain[1]), "1 Close");  // the records never confirm a block
        QStringList errors;
        std::printf("%-20s| %-14s| %-14s| %-14s| %-14s| %-14s| %s\n", "phase \\ fault", kFaultNames[0],
                    kFaultNames[1], kFaultNames[2], kFaultNames[3], kFaultNames[4], kFaultNames[5]);
        for (const Phase& phase : kPhases) {
            const std::size_t frame = FrameOf(plain[phase.retry], phase);
            QVERIFY2(frame > 0, phase.name);
            std::printf("%-20s", phase.name);
            for (const Fault fault : {PowerLoss, CablePulled, Refusals, Noise, Pieces, CloseYes}) {
                const QString outcome = Run(phase, fault, frame);
                std::printf("| %-14s", qPrintable(outcome));
                if (outcome.front().isLetter())
                    errors << QStringLiteral("%1, %2: %3").arg(phase.name, kFaultNames[fault], outcome);
            }
            std::printf("\n");
        }
        std::fflush(stdout);
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join('\n')));
    }
};

QTEST_GUILESS_MAIN(FaultMatrixTest)
#include "test_fault_matrix.moc"
