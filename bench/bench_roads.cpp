// The full update on the roads a flaky line sends it down, each against the clean road: one frame lost or
// refused once, at page 1, in the profile read or in the upload. One such frame should cost its time-out and
// a resend, not a second pass over the profile. Times and frame counts come from the simulator's wire log.
// KAV_BENCH_PROGRAM=/path/to/kav-update measures another build of the program. Prints the figures and the
// goals; a missed goal does not fail the build.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <optional>
#include <utility>

#include "bench/full_update.h"
#include "bench/process_sampler.h"
#include "bench/wire_log.h"
#include "link/command_set.h"
#include "profile/profile_range.h"

namespace {

// The middle of each transfer: far from the first block, whose read or address is a step of its own.
constexpr int kMiddleProfileBlock = kProfileBlocks / 2 + 1;  // counted from 1, block 0 apart
constexpr int kMiddleProfileUnit = kRingStart + dc::kUnitsPerBlock * (kMiddleProfileBlock - 1);
constexpr int kMiddleImageBlock = kCodeBlocks / 2 + 1;
// kav-fwr gives the image's first block word 0 and each next one 8 more.
constexpr int kMiddleImageWord = dc::kUnitsPerBlock * (kMiddleImageBlock - 1);
constexpr int kBlockDataFrame = dc::kBlockBytes + 2;
constexpr int kBlockReply = dc::kBlockBytes + 1;

QString Hex(int byte) {
    return QStringLiteral("0x") + QString::number(byte, 16).toUpper().rightJustified(2, u'0');
}

QString Program() {
    const QString chosen = qEnvironmentVariable("KAV_BENCH_PROGRAM");
    return chosen.isEmpty() ? QStringLiteral(KAV_UPDATE) : chosen;
}

QString VersionOf(const QString& program) {
    QProcess p;
    p.start(program, {"--version"});
    if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit)
        return QStringLiteral("its version not known");
    return QString::fromLocal8Bit(p.readAllStandardOutput()).split(u'\n').value(0).trimmed();
}

int Heard(const std::vector<Transaction>& log, int command) {
    return static_cast<int>(
        std::count_if(log.begin(), log.end(), [command](const Transaction& t) { return t.Is(command); }));
}

// From the first command the DC heard to the last reply it wrote.
double WholeSeconds(const std::vector<Transaction>& log) {
    double last = -1.0;
    for (const Transaction& t : log)
        last = std::max(last, t.answered);
    return log.empty() || last < 0.0 ? -1.0 : last - log.front().heard;
}

// Which profile block the read at `at` asked for, counted from 1: the blocks read before it since block 0.
// Nothing when the reads from block 0 up to it are not one unbroken run of reads.
std::optional<int> ProfileBlockAt(const std::vector<Transaction>& log, const Phases& p, std::size_t at) {
    if (!p.backup.found || at <= p.backup.first || at >= log.size())
        return std::nullopt;
    int before = 0;
    for (std::size_t i = p.backup.first + 1; i < at; ++i) {
        if (!log[i].Is(dc::ReadBlock))
            return std::nullopt;
        before += log[i].replyBytes == kBlockReply ? 1 : 0;
    }
    const int block = before + 1;
    return log[at].Is(dc::ReadBlock) && block <= kProfileBlocks ? std::optional<int>(block) : std::nullopt;
}

// What the wire log shows of a road's fault, and whether it is the one asked for.
struct Seen {
    bool asked = false;
    QString what;
};

Seen FirstIdentificationLost(const std::vector<Transaction>& log) {
    if (log.empty() || !log[0].Is(dc::Identify))
        return {false, QStringLiteral("frame 1 was not the identification")};
    if (log[0].Answered())
        return {false, QStringLiteral("frame 1 (0x84) was answered")};
    return {true, QStringLiteral("frame 1 (0x84, page 1's identification) lost")};
}

Seen ProfileReadRefused(const std::vector<Transaction>& log, const Phases& p) {
    std::vector<std::pair<std::size_t, int>> refused;  // frame index, profile block
    for (std::size_t i = p.backup.first; p.backup.found && i <= p.backup.last; ++i)
        if (log[i].Is(dc::ReadBlock) && log[i].Answered() && log[i].replyBytes == 1)
            refused.emplace_back(i, ProfileBlockAt(log, p, i).value_or(-1));
    if (refused.size() != 1)
        return {false, QStringLiteral("%1 refused profile reads").arg(refused.size())};
    const auto [at, block] = refused.front();
    return {block == kMiddleProfileBlock,
            QStringLiteral("frame %1 (0xB4, profile block %2 of %3, unit %4) refused")
                .arg(at + 1)
                .arg(block)
                .arg(kProfileBlocks)
                .arg(kRingStart + dc::kUnitsPerBlock * (block - 1))};
}

Seen ImageAddressRefused(const std::vector<Transaction>& log, const Phases& p) {
    std::vector<std::pair<std::size_t, int>> refused;  // frame index, image block
    int written = 0;
    for (std::size_t i = p.upload.first; p.upload.found && i <= p.upload.last; ++i) {
        written += log[i].frameBytes == kBlockDataFrame ? 1 : 0;
        // An address the DC took is followed by its data.
        if (log[i].Is(dc::WriteBlock) && log[i].Answered() && i + 1 < log.size() &&
            log[i + 1].frameBytes != kBlockDataFrame)
            refused.emplace_back(i, written + 1);
    }
    if (refused.size() != 1)
        return {false, QStringLiteral("%1 refused image addresses").arg(refused.size())};
    const auto [at, block] = refused.front();
    return {block == kMiddleImageBlock,
            QStringLiteral("frame %1 (0xB5, image block %2 of %3, word %4) refused")
                .arg(at + 1)
                .arg(block)
                .arg(kCodeBlocks)
                .arg(dc::kUnitsPerBlock * (block - 1))};
}

Seen ProfileReadLost(const std::vector<Transaction>& log, const Phases& p, int frame) {
    const auto at = static_cast<std::size_t>(frame - 1);
    if (at >= log.size())
        return {false, QStringLiteral("frame %1 never came").arg(frame)};
    const std::optional<int> block = ProfileBlockAt(log, p, at);
    if (!block)
        return {false,
                QStringLiteral("frame %1 (%2) was not a profile read").arg(frame).arg(Hex(log[at].first))};
    return {!log[at].Answered(), QStringLiteral("frame %1 (0xB4, profile block %2 of %3) lost%4")
                                     .arg(frame)
                                     .arg(*block)
                                     .arg(kProfileBlocks)
                                     .arg(log[at].Answered() ? QStringLiteral(", yet answered") : QString())};
}

struct Road {
    Road(QString title, QStringList options, double over)
        : name(std::move(title)), fault(std::move(options)), budget(over) {}
    QString name;
    QStringList fault;  // kav-dc-sim's options for it
    double budget;      // seconds over the clean road; 0: the clean road
    int lostFrame = 0;  // with --silence
    std::vector<Transaction> log;
    Phases phases;
    UpdateRun run;
    Seen seen;
    double seconds = -1.0;
    QString scheduling;  // the simulator's
};

void Drive(Road& road, const QString& program, const QString& firmware, const QString& folder) {
    const QString appDir = QDir(folder).filePath(road.name.mid(1, 1));  // the road's letter
    QDir().mkpath(appDir);
    Simulator sim(QStringLiteral(KAV_DC_SIM), FullUpdateDcArgs() + road.fault,
                  appDir + QStringLiteral(".wire"));
    if (sim.Path().isEmpty()) {
        std::fprintf(stderr, "bench_roads: kav-dc-sim did not start for %s\n", qPrintable(road.name));
        return;
    }
    road.scheduling = sim.Scheduling();
    road.run =
        RunUpdate(program, {"--cli", "--port", sim.Path(), "--app-dir", appDir, "--firmware", firmware});
    road.log = sim.Stop();
    road.phases = FindPhases(road.log);
    road.seconds = WholeSeconds(road.log);
    if (road.run.exitStatus != 0)
        std::fprintf(stderr, "bench_roads: %s: kav-update ended with status %d:\n%s\n%s\n",
                     qPrintable(road.name), road.run.exitStatus, road.run.out.constData(),
                     road.run.err.constData());
}

QString PhaseSeconds(const Road& road) {
    QStringList parts;
    for (const Phase* ph : {&road.phases.backup, &road.phases.upload, &road.phases.restore})
        parts << (ph->found ? QString::number(ph->Seconds(road.log), 'f', 1) : QStringLiteral("-"));
    return parts.join(QStringLiteral(" / "));
}

void Line(const QString& line) {
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

// The road's row in the table, its frame counts against the clean road's.
void PrintRow(const Road& road, const Road& clean) {
    const int reads = Heard(road.log, dc::ReadBlock);
    const int writes = Heard(road.log, dc::WriteBlock);
    const bool faulty = road.budget > 0.0;
    const double over = road.seconds - clean.seconds;
    QString goal = QStringLiteral("-");
    if (faulty) {
        const bool met = road.seconds >= 0.0 && road.run.succeeded && over <= road.budget;
        goal = QStringLiteral("clean + %1 s: %2")
                   .arg(road.budget, 0, 'f', 1)
                   .arg(!road.seen.asked ? QStringLiteral("fault not hit, not measured")
                        : met            ? QStringLiteral("met")
                                         : QStringLiteral("NOT MET"));
    }
    const auto against = [faulty](int value, int cleanValue) {
        return faulty ? QStringLiteral("%1 (%2)").arg(value).arg(QString::asprintf("%+d", value - cleanValue))
                      : QString::number(value);
    };
    Line(QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 | %7 | %8 | %9 |")
             .arg(road.name, road.fault.isEmpty() ? QStringLiteral("-") : road.fault.join(u' '))
             .arg(road.seconds, 0, 'f', 3)
             .arg(faulty ? QString::asprintf("%+.3f", over) : QStringLiteral("-"))
             .arg(road.run.exitStatus)
             .arg(against(reads, Heard(clean.log, dc::ReadBlock)),
                  against(writes, Heard(clean.log, dc::WriteBlock)), PhaseSeconds(road), goal));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString program = Program();
    if (!QFileInfo(program).isExecutable()) {
        std::fprintf(stderr, "bench_roads: no program to measure at %s\n", qPrintable(program));
        return 1;
    }
    const MachineLoad loadBefore = MachineLoad::Now();
    QTemporaryDir dir;
    const QString firmware = dir.filePath(QStringLiteral("KAV.1F.demo.FWR"));
    if (!dir.isValid() || !PackFirmware(QStringLiteral(KAV_FWR), firmware)) {
        std::fputs("bench_roads: kav-fwr pack failed\n", stderr);
        return 1;
    }
    Line(QStringLiteral("Roads of the full update: %1-block image, %2-block profile, kav-dc-sim %3")
             .arg(kCodeBlocks)
             .arg(kProfileBlocks)
             .arg(FullUpdateDcArgs().join(u' ')));
    Line(QStringLiteral("Program measured: %1 (%2; %3)")
             .arg(program, VersionOf(program),
                  qEnvironmentVariableIsEmpty("KAV_BENCH_PROGRAM")
                      ? QStringLiteral("the build's own")
                      : QStringLiteral("from KAV_BENCH_PROGRAM")));

    std::vector<Road> roads{
        {QStringLiteral("(a) clean"), {}, 0.0},
        {QStringLiteral("(b) first identification unanswered once"), {"--silence", "1:1"}, 2.5},
        {QStringLiteral("(c) profile block read refused once"),
         {"--refuse", QStringLiteral("B4:1@%1").arg(kMiddleProfileUnit)},
         2.5},
        {QStringLiteral("(d) firmware block address refused once"),
         {"--refuse", QStringLiteral("B5:1@%1").arg(kMiddleImageWord)},
         2.5},
        {QStringLiteral("(e) profile block read unanswered once"), {}, 5.0},
    };
    Line(QStringLiteral(
        "Seconds: from the first command the DC heard to the last reply it wrote. Frames heard: "
        "command frames, resends included, and in brackets against the clean road."));
    Line(QString());
    Line(
        QStringLiteral("| road | kav-dc-sim fault | seconds | vs clean | exit | 0xB4 heard | 0xB5 heard | "
                       "backup / upload / restore s | goal |"));
    Line(QStringLiteral("|---|---|--:|--:|--:|--:|--:|---|---|"));
    Road& clean = roads[0];
    Drive(clean, program, firmware, dir.path());
    if (!clean.run.succeeded || !clean.phases.restore.found) {
        std::fputs("bench_roads: the clean update did not complete\n", stderr);
        return 1;
    }
    PrintRow(clean, clean);
    // The frame that carries the middle profile block's read on the clean road is the same frame on a road
    // that has had no fault before it.
    Road& lost = roads[4];
    for (std::size_t i = clean.phases.backup.first; i <= clean.phases.backup.last; ++i)
        if (ProfileBlockAt(clean.log, clean.phases, i) == kMiddleProfileBlock) {
            lost.lostFrame = static_cast<int>(i) + 1;
            break;
        }
    if (lost.lostFrame == 0) {
        std::fputs("bench_roads: the clean road's wire log has no middle profile read\n", stderr);
        return 1;
    }
    lost.fault = QStringList{"--silence", QStringLiteral("%1:1").arg(lost.lostFrame)};
    for (std::size_t i = 1; i < roads.size(); ++i) {
        Road& road = roads[i];
        Drive(road, program, firmware, dir.path());
        switch (i) {
            case 1:
                road.seen = FirstIdentificationLost(road.log);
                break;
            case 2:
                road.seen = ProfileReadRefused(road.log, road.phases);
                break;
            case 3:
                road.seen = ImageAddressRefused(road.log, road.phases);
                break;
            default:
                road.seen = ProfileReadLost(road.log, road.phases, road.lostFrame);
                break;
        }
        PrintRow(road, clean);
    }
    Line(QString());
    Line(QStringLiteral("The faults as the wire log shows them:"));
    for (const Road& road : roads)
        if (road.budget > 0.0)
            Line(QStringLiteral("  %1: %2%3")
                     .arg(road.name, road.seen.what,
                          road.seen.asked ? QString() : QStringLiteral(" (not the fault asked for)")));
    const MachineLoad loadAfter = MachineLoad::Now();
    Line(QStringLiteral(
             "Simulator scheduled %1; machine busy (all cores) %2% over the roads, load average %3 at "
             "the start, %4 at the end")
             .arg(clean.scheduling)
             .arg(loadBefore.BusyPercentUntil(loadAfter), 0, 'f', 0)
             .arg(loadBefore.average, loadAfter.average));
    return 0;
}
