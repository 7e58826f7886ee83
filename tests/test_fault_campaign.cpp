// Whole updates on the simulated DC and the virtual clock, each with one random fault at a random frame: the
// DC losing power, the cable pulled, a storm of refusals, lost frames, a late reply, replies in pieces, a
// noisy line, or Close answered Yes. Every run must end; exit status 0 only with the new firmware confirmed,
// the profile back and no backup left; the profile in the DC byte for byte or in its backup file byte for
// byte. KAV_CAMPAIGN_RUNS sets the number of runs (`make soak`), KAV_CAMPAIGN_SEED the seed, printed either
// way; KAV_CAMPAIGN_RUN repeats one run of a campaign.
#include <QtTest>
#include <cstdio>
#include <random>

#include "fakes/faults.h"

namespace {

struct Plan {
    TestFirmware fw;
    DcConfig dc;
    bool waiting = false;  // a backup of the true profile waits; the DC holds another one
    Fault fault = PowerLoss;
    std::size_t frame = 0;
    int size = 0;  // the fault's own measure: refusals, frames lost, a piece's bytes
    double seconds = 0;

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
    p.seconds = pick(100, 3000) / 1000.0;
    return p;
}

// One whole run; an empty string when every promise held, else what broke.
QString Run(const Plan& p) {
    DcConfig truthDc = p.dc;
    DcConfig start = p.dc;
    if (p.waiting)
        start.seed = p.dc.seed + 1;  // the same DC, its profile not yet back from an earlier update
    WiredWizard w(start, p.fw);
    const auto truth = DcModel(truthDc).Memory();
    const QByteArray backup = ExpectedBackupFile(truth, p.fw.memory);
    if (p.waiting)
        w.f.PlaceFile(backup, w.f.appDir.filePath(QStringLiteral("513.%1.bin").arg(p.dc.serialNumber)));
    const QString file = w.f.appDir.filePath(QStringLiteral("513.%1.bin").arg(p.dc.serialNumber));
    w.f.sim.Serial().BeforeTransmit = [&](std::size_t n) {
        if (n == p.frame) {
            StartFault(w, p.fault, p.size, p.seconds);
            w.f.sim.Serial().BeforeTransmit = nullptr;
        }
    };
    if (!w.machine->Load())
        return QStringLiteral("START-UP FAILED");
    w.machine->NextClick();
    w.machine->NextClick();
    w.f.sim.Device().Faults() = DcFaults{};  // the DC back, as it was
    w.f.sim.Serial().Plug();
    if (w.f.view.answers.empty())
        w.f.view.answers = {IdYes, IdOk, IdOk, IdNoAnswer};  // never No, never Cancel
    w.machine->CloseClick();
    if (!w.machine->Ended() || w.f.clock.Now() > 3600)
        return QStringLiteral("DID NOT END");

    const DcModel& dc = w.f.sim.Device();
    const int first = p.dc.profileStart / 8 * 8, last = p.dc.profileEnd / 8 * 8 + 7;
    const bool empty = p.dc.profileStart == p.dc.profileEnd;
    const bool inDc = Units(dc.Memory(), 4, 4) == Units(truth, 4, 4) &&
                      (empty || Units(dc.Memory(), first, last) == Units(truth, first, last));
    const bool kept = QFile::exists(file);
    if (kept && FileBytes(file) != backup)
        return QStringLiteral("BACKUP FILE WRONG");
    if (!inDc && !kept)
        return QStringLiteral("PROFILE LOST");
    if (w.machine->ExitCode() == ExitUpdateSucceeded) {
        const bool firstIn = p.fw.kind == TestKind::Code2Only || dc.IdText().substr(6, 3) == "V1B";
        const bool secondIn = p.fw.kind == TestKind::CodeOnly || dc.SubVersion() == 5;
        if (!firstIn || !secondIn)
            return QStringLiteral("SUCCESS CLAIMED, FIRMWARE NOT IN");
        if (!inDc || kept || dc.DeepSleep())
            return QStringLiteral("SUCCESS CLAIMED, %1")
                .arg(!inDc  ? "PROFILE NOT BACK"
                     : kept ? "BACKUP LEFT"
                            : "IN DEEP SLEEP");
    }
    return QString();
}

std::uint64_t Setting(const char* name, std::uint64_t fallback) {
    bool ok = false;
    const std::uint64_t value = qEnvironmentVariable(name).toULongLong(&ok);
    return ok ? value : fallback;
}

}  // namespace

class FaultCampaignTest : public QObject {
    Q_OBJECT

private slots:
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
            const QString wrong = Run(plan);
            if (!wrong.isEmpty()) {
                errors << QStringLiteral("run %1: %2: %3").arg(run).arg(wrong, plan.Describe());
            }
        }
        for (int f = 0; f < kFaults; ++f)
            std::printf("  %-12s %d runs\n", kFaultNames[f], counts[f]);
        std::fflush(stdout);
        QVERIFY2(errors.isEmpty(), qPrintable(QStringLiteral("seed %1: ").arg(seed) + errors.join('\n')));
    }
};

QTEST_GUILESS_MAIN(FaultCampaignTest)
#include "test_fault_campaign.moc"
