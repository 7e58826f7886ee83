// A full update as a user runs it, against the simulated DC at the wire rate with a 1 ms DC, and the least
// any client could do against the same simulator. Times come from the simulator's wire log; the restart wait
// and the restore's settling waits lie between the measured transfers. Prints the figures and the goals; a
// missed goal does not fail the build.
#include <sys/utsname.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

#include "bench/full_update.h"
#include "bench/process_sampler.h"
#include "bench/wire_log.h"
#include "firmware/firmware_loader.h"
#include "run/task_list.h"
#include "run/transfer_progress.h"
#include "support/clock.h"
#include "support/transfer_rate.h"

namespace {

const QStringList kSimArgs = FullUpdateDcArgs();
const QString kPage1 = QStringLiteral(">>> Click on Next button to continue... >>>");

QString Tool(const char* path) {
    return QString::fromLocal8Bit(path);
}

bool Pack(const QString& out, const QStringList& extra) {
    return PackFirmware(Tool(KAV_FWR), out, extra);
}

QStringList ProgramArgs(const QString& port, const QString& appDir, const QString& firmware) {
    return {"--cli", "--port", port, "--app-dir", appDir, "--firmware", firmware};
}

// Seconds from the start of kav-update to page 1 on its output, the median of a few starts.
double StartToPage1(const QStringList& args) {
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        QProcess p;
        QElapsedTimer timer;
        timer.start();
        p.start(Tool(KAV_UPDATE), args);
        QByteArray out;
        while (!out.contains(kPage1.toUtf8()) && p.waitForReadyRead(10000))
            out += p.readAllStandardOutput();
        if (out.contains(kPage1.toUtf8()))
            times.push_back(static_cast<double>(timer.nsecsElapsed()) * 1e-9);
        p.write("close\n");
        p.closeWriteChannel();
        if (!p.waitForFinished(10000))
            p.kill();
        p.waitForFinished(2000);
    }
    return Percentile(times, 0.5);
}

struct ProgramRun {
    bool succeeded = false;
    QString portLine;  // what it said about the port's latency
    ProcessSampler cpu;
};

// The whole update through the terminal front end, its processor time sampled as it runs.
ProgramRun RunProgram(const QStringList& args) {
    ProgramRun run;
    const UpdateRun update = RunUpdate(
        Tool(KAV_UPDATE), args, [&run](qint64 pid) { run.cpu.Attach(pid); }, [&run] { run.cpu.Sample(); });
    run.succeeded = update.succeeded;
    run.portLine = update.portLine;
    if (!run.succeeded)
        std::fprintf(stderr, "kav-update did not complete the update:\n%s\n%s\n", update.out.constData(),
                     update.err.constData());
    return run;
}

// The reference client's own view: "overhead <median> <p99>" in milliseconds; empty when it failed.
QStringList RunReference(const QString& port) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(Tool(KAV_REFERENCE_CLIENT), {port, QString::number(kCodeBlocks), QString::number(kProfileBlocks),
                                         QString::number(kRestartSeconds)});
    if (!p.waitForFinished(400000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return {};
    return QString::fromLatin1(p.readAllStandardOutput()).simplified().split(u' ');
}

class NullView final : public WizardView {
public:
    void SetWindowCaption(const QString&) override {}
    void SetFrameCaption(const QString&) override {}
    void SetFrameVisible(bool) override {}
    void SetInstructionText(const QString&) override {}
    void SetPictureVisible(bool) override {}
    void SetTaskListVisible(bool) override {}
    void SetColumnHeaders(const QString&, const QString&, const QString&) override {}
    void AppendTaskRow(int, const QString&, const QString&, const QString&) override {}
    void SetNewestTaskStatus(const QString&) override {}
    void ClearTaskRows() override {}
    void SetButtonCaption(WizardButton, const QString&) override {}
    void SetButtonEnabled(WizardButton, bool) override {}
    void SetButtonVisible(WizardButton, bool) override {}
    BoxAnswer ShowMessageBox(const QString&, const QString&, BoxStyle) override { return BoxAnswer::Ok; }
    void SetOnTop(bool) override {}
    void ShowTrayIcon(const QString&) override {}
    void RemoveTrayIcon() override {}
};

// The loader as the wizard runs it at start-up, the median of a few loads.
double LoaderSeconds(const QString& file) {
    NullView view;
    SystemClock clock;
    TaskList tasks(view, clock);
    TextDatabase texts;
    texts.Open(QStringLiteral(KAV_LNG), 1);
    std::vector<double> times;
    for (int i = 0; i < 21; ++i) {
        FirmwareImage firmware;
        const double start = clock.Now();
        const bool ok = LoadFirmwareFile(file, firmware, tasks, texts, view);
        if (ok && firmware.CodeAndCode2)
            times.push_back(clock.Now() - start);
    }
    return times.size() == 21 ? Percentile(times, 0.5) : -1.0;
}

QString Machine() {
    QString cpu;
    QFile info(QStringLiteral("/proc/cpuinfo"));
    if (info.open(QIODevice::ReadOnly | QIODevice::Text)) {
        for (const QByteArray& line : info.readAll().split('\n'))
            if (line.startsWith("model name")) {
                cpu = QString::fromLatin1(line.mid(line.indexOf(':') + 1)).trimmed();
                break;
            }
    }
    utsname u{};
    ::uname(&u);
    return QStringLiteral("%1, %2 cores, Linux %3")
        .arg(cpu)
        .arg(::sysconf(_SC_NPROCESSORS_ONLN))
        .arg(u.release);
}

struct Report {
    QString text;
    void Line(const QString& line) {
        std::printf("%s\n", qPrintable(line));
        std::fflush(stdout);
        text += line + u'\n';
    }
};

QString Goal(const QString& what, double value, double limit, const char* format) {
    return QStringLiteral("  %1 %2 (goal <= %3): %4")
        .arg(what, -44)
        .arg(QString::asprintf(format, value))
        .arg(QString::asprintf(format, limit))
        .arg(value <= limit ? QStringLiteral("met") : QStringLiteral("NOT MET"));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString firmware = dir.filePath(QStringLiteral("KAV.1F.demo.FWR"));
    const QString twoImages = dir.filePath(QStringLiteral("two.FWR"));
    const QString image2 = dir.filePath(QStringLiteral("image2.bin"));
    {
        QFile raw(image2);
        raw.open(QIODevice::WriteOnly);
        QByteArray bytes(kCodeBlocks * 128, '\0');
        for (qsizetype i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(i * 13 + 5);
        raw.write(bytes);
    }
    if (!Pack(firmware, {}) || !Pack(twoImages, {"--image2", image2})) {
        std::fprintf(stderr, "bench_update: kav-fwr pack failed\n");
        return 1;
    }
    QDir(dir.path()).mkdir(QStringLiteral("app"));
    const QString appDir = dir.filePath(QStringLiteral("app"));

    Report r;
    const MachineLoad loadBefore = MachineLoad::Now();
    r.Line(QStringLiteral("Full update: %1-block image, %2-block profile, kav-dc-sim %3")
               .arg(kCodeBlocks)
               .arg(kProfileBlocks)
               .arg(kSimArgs.join(u' ')));
    r.Line(QStringLiteral("Machine: %1; load average %2 at the start").arg(Machine(), loadBefore.average));

    const double loader = LoaderSeconds(twoImages);

    Simulator sim(Tool(KAV_DC_SIM), kSimArgs, dir.filePath(QStringLiteral("program.wire")));
    const QStringList args = ProgramArgs(sim.Path(), appDir, firmware);
    const double page1 = StartToPage1(args);
    ProgramRun program = RunProgram(args);
    const std::vector<Transaction> ours = sim.Stop();
    const MachineLoad loadProgram = MachineLoad::Now();

    Simulator refSim(Tool(KAV_DC_SIM), kSimArgs, dir.filePath(QStringLiteral("reference.wire")));
    const QStringList refOverhead = RunReference(refSim.Path());
    const bool refOk = refOverhead.size() == 3;
    const std::vector<Transaction> theirs = refSim.Stop();
    const MachineLoad loadEnd = MachineLoad::Now();

    const Phases p = FindPhases(ours);
    const Phases q = FindPhases(theirs);
    if (!program.succeeded || !refOk || !p.restore.found || !q.restore.found) {
        std::fprintf(stderr, "bench_update: the runs did not complete (program %s, reference %s)\n",
                     program.succeeded ? "ok" : "failed", refOk ? "ok" : "failed");
        return 1;
    }

    r.Line(QString());
    r.Line(QStringLiteral(
        "| phase   | blocks | seconds | wire minimum | x wire | reference | x reference | rate, "
        "time left at half way (predicted / actual) |"));
    r.Line(QStringLiteral(
        "|---------|-------:|--------:|-------------:|-------:|----------:|------------:|---|"));
    struct Row {
        const char* name;
        const Phase& ours;
        const Phase& theirs;
    };
    std::vector<std::pair<QString, double>> goals;
    for (const Row& row : {Row{"backup", p.backup, q.backup}, Row{"upload", p.upload, q.upload},
                           Row{"restore", p.restore, q.restore}}) {
        const Phase& ph = row.ours;
        const double seconds = ph.Seconds(ours);
        const double wire = ph.WireMinimum(ours);
        const double reference = row.theirs.Seconds(theirs);
        // The figures the user sees: rate and time left, half way through and at the end.
        const int half = ph.blocks / 2;
        TransferRate rate(ph.Start(ours), ph.blocks, 128.0);
        const double halfWay = ph.BlocksDoneAt(ours, half);
        rate.Record(halfWay, half);
        const TransferProgress progress{half, ph.blocks, rate.BytesPerSecond(), rate.SecondsLeft()};
        const QString shown = QStringLiteral("50% · ") + progress.RateText(kEnglishTimeLeft);
        const double predicted = rate.SecondsLeft().value_or(0.0);
        r.Line(QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 | %7 | %8 (%9 s / %10 s) |")
                   .arg(QString::fromLatin1(row.name), -7)
                   .arg(ph.blocks, 6)
                   .arg(seconds, 7, 'f', 3)
                   .arg(wire, 12, 'f', 3)
                   .arg(seconds / wire, 6, 'f', 3)
                   .arg(reference, 9, 'f', 3)
                   .arg(seconds / reference, 11, 'f', 4)
                   .arg(shown)
                   .arg(predicted, 0, 'f', 2)
                   .arg(ph.End(ours) - halfWay, 0, 'f', 2));
        goals.emplace_back(QStringLiteral("%1 x wire minimum").arg(QString::fromLatin1(row.name)),
                           seconds / wire);
        goals.emplace_back(QStringLiteral("%1 x reference client").arg(QString::fromLatin1(row.name)),
                           seconds / reference);
    }
    r.Line(QString());

    const std::vector<double> reaction = ReactionTimes(ours, p);
    const std::vector<double> refReaction = ReactionTimes(theirs, q);
    const double median = Percentile(reaction, 0.5) * 1e3;
    const double p99 = Percentile(reaction, 0.99) * 1e3;
    r.Line(QStringLiteral("Reaction time (a reply's last byte to the next command's first byte, %1 replies): "
                          "median %2 ms, p99 %3 ms; reference client %4 ms, %5 ms")
               .arg(reaction.size())
               .arg(median, 0, 'f', 3)
               .arg(p99, 0, 'f', 3)
               .arg(Percentile(refReaction, 0.5) * 1e3, 0, 'f', 3)
               .arg(Percentile(refReaction, 0.99) * 1e3, 0, 'f', 3));
    // Median / p99 of one phase, for kav-update and for the reference client.
    const auto inPhase = [](const std::vector<Transaction>& log, const Phase& phase) {
        const std::vector<double> some = ReactionTimes(log, phase);
        return QStringLiteral("%1 / %2")
            .arg(Percentile(some, 0.5) * 1e3, 0, 'f', 3)
            .arg(Percentile(some, 0.99) * 1e3, 0, 'f', 3);
    };
    r.Line(QStringLiteral(
               "  by phase, median / p99 ms: backup %1 (reference %2), upload %3 (%4), restore %5 (%6)")
               .arg(inPhase(ours, p.backup), inPhase(theirs, q.backup), inPhase(ours, p.upload),
                    inPhase(theirs, q.upload), inPhase(ours, p.restore), inPhase(theirs, q.restore)));
    const auto waits = Waits(ours, p, 0.5);
    const CpuShare idle = program.cpu.Share(waits, 0.05);
    std::vector<std::pair<double, double>> transfers;
    for (const Phase* ph : {&p.backup, &p.upload, &p.restore})
        transfers.emplace_back(ph->Start(ours), ph->End(ours));
    const CpuShare busy = program.cpu.Share(transfers, 0.05);
    r.Line(
        QStringLiteral("CPU of kav-update during its waits (%1 waits, %2 s): %3% of their wall time; during "
                       "the transfers: %4%")
            .arg(waits.size())
            .arg(idle.wall, 0, 'f', 1)
            .arg(idle.Percent(), 0, 'f', 2)
            .arg(busy.Percent(), 0, 'f', 1));
    r.Line(QStringLiteral(
               "Start to page 1: %1 ms (median of 5); loader, 2 x %2-block file: %3 ms (median of 21)")
               .arg(page1 * 1e3, 0, 'f', 1)
               .arg(kCodeBlocks)
               .arg(loader * 1e3, 0, 'f', 2));
    const std::vector<double> late = ReplyLateness(theirs, q);
    r.Line(QStringLiteral("Simulator: replies written %1 ms after their modelled time (median), %2 ms (p99); "
                          "a reference transaction takes %3 ms (median), %4 ms (p99) beyond the model")
               .arg(Percentile(late, 0.5) * 1e3, 0, 'f', 4)
               .arg(Percentile(late, 0.99) * 1e3, 0, 'f', 4)
               .arg(refOverhead.value(1), refOverhead.value(2)));
    r.Line(QStringLiteral("Port: %1; simulator scheduled %2").arg(program.portLine, sim.Scheduling()));
    r.Line(QStringLiteral("Machine busy (all cores): %1% during the program's run, %2% during the reference "
                          "run; load average %3 at the end")
               .arg(loadBefore.BusyPercentUntil(loadProgram), 0, 'f', 0)
               .arg(loadProgram.BusyPercentUntil(loadEnd), 0, 'f', 0)
               .arg(loadEnd.average));

    r.Line(QString());
    r.Line(QStringLiteral("Goals:"));
    for (const auto& [what, value] : goals)
        r.Line(Goal(what, value, what.contains(QStringLiteral("wire")) ? 1.07 : 1.01, "%.4f"));
    r.Line(Goal(QStringLiteral("reaction time, median (ms)"), median, 0.1, "%.3f"));
    r.Line(Goal(QStringLiteral("reaction time, p99 (ms)"), p99, 0.5, "%.3f"));
    r.Line(Goal(QStringLiteral("CPU during waits (% of wall time)"), idle.Percent(), 2.0, "%.2f"));
    r.Line(Goal(QStringLiteral("start to page 1 (ms)"), page1 * 1e3, 300.0, "%.1f"));
    r.Line(Goal(QStringLiteral("loader, 2 x 1024 blocks (ms)"), loader * 1e3, 20.0, "%.2f"));
    r.Line(Goal(QStringLiteral("simulator lateness per reply, p99 (ms)"), Percentile(late, 0.99) * 1e3, 0.05,
                "%.4f"));

    const QString markdown = QCoreApplication::applicationDirPath() + QStringLiteral("/../BENCHMARKS.md");
    QFile out(markdown);
    if (out.open(QIODevice::WriteOnly | QIODevice::Text))
        out.write(("```\n" + r.text + "```\n").toUtf8());
    std::printf("(also written to %s)\n", qPrintable(QDir::cleanPath(markdown)));
    return 0;
}
