// A drawer of DCs: four simulated DCs updated at once (`kav-update --cli --yes --port ... x4`) against one
// DC updated alone, in the same run, each DC at the wire rate with 1 ms replies. A parallel run shares
// nothing between its DCs, so the slowest of the four should take little longer than one alone. Times are the
// attempts' own, from the update history; the program's processor time is its children's, from the kernel.
// Prints the figures and the goal; a missed goal does not fail the build.
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <map>

#include "run/update_history.h"

namespace {

constexpr int kDcs = 4;
constexpr double kGoal = 1.05;  // the slowest of the four against one alone
// As the full-update benchmark: the 1024 KB model with a wrapped profile ring, a 1024-block image.
const QStringList kSimArgs = QStringLiteral(
                                 "--throttle --latency-ms 1 --memory 1024 --profile 5000:4000 "
                                 "--new-version 1B --restart-seconds 8")
                                 .split(u' ') +
                             QStringList{"--id", "KAV1F V1A 1024KB"};

bool Pack(const QString& out) {
    QProcess p;
    p.start(QStringLiteral(KAV_FWR), {"pack", "--out", out, "--demo-image", "1024", "--memory", "1024",
                                      "--fw-version", "1B", "--model-number", "513"});
    return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// Every thread of the simulator (one per DC) at the highest priority it may take: it is the measuring
// instrument.
void Prioritise(qint64 pid) {
    const sched_param realtime{10};
    for (const QString& task :
         QDir(QStringLiteral("/proc/%1/task").arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const auto tid = static_cast<pid_t>(task.toLongLong());
        if (::sched_setscheduler(tid, SCHED_FIFO, &realtime) != 0)
            ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), -20);
    }
}

class Simulators {
public:
    Simulators(int count, int firstSerial) {
        process_.start(QStringLiteral(KAV_DC_SIM),
                       kSimArgs + QStringList{"--count", QString::number(count), "--serial",
                                              QString::number(firstSerial)});
        while (int(paths_.size()) < count && process_.waitForReadyRead(5000)) {
            while (process_.canReadLine())
                paths_ << QString::fromLocal8Bit(process_.readLine()).trimmed();
        }
        Prioritise(process_.processId());
    }
    ~Simulators() {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(5000))
            process_.kill();
        process_.waitForFinished(2000);
    }
    const QStringList& Paths() const { return paths_; }

private:
    QProcess process_;
    QStringList paths_;
};

// Processor seconds so far of every running kav-update (the one started and the ones it starts), by process
// id.
void SampleProgramCpu(std::map<qint64, double>& cpu) {
    static const double kTicks = double(::sysconf(_SC_CLK_TCK));
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray stat = file.readAll();
        const qsizetype close = stat.lastIndexOf(')');
        if (close < 0 || !stat.mid(0, close).endsWith("(kav-update"))
            continue;
        // After the name: state is field 3, utime 14 and stime 15.
        const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
        if (fields.size() > 12)
            cpu[pid.toLongLong()] = (fields[11].toDouble() + fields[12].toDouble()) / kTicks;
    }
}

struct Run {
    std::vector<UpdateAttempt> attempts;
    double wall = 0.0, cpu = 0.0;
    int exitCode = -1;
};

// One kav-update for all the ports; the DCs' attempts come back from its history.
Run Update(const QStringList& ports, const QString& firmware, const QString& folder) {
    QStringList args{"--cli", "--yes", "--firmware", firmware, "--app-dir", folder};
    for (const QString& port : ports)
        args << "--port" << port;
    Run run;
    std::map<qint64, double> cpu;
    QElapsedTimer timer;
    timer.start();
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.setStandardOutputFile(QDir(folder).filePath(QStringLiteral("output.txt")));
    p.start(QStringLiteral(KAV_UPDATE), args);
    while (p.state() != QProcess::NotRunning && !p.waitForFinished(200))
        SampleProgramCpu(cpu);
    run.wall = double(timer.nsecsElapsed()) / 1e9;
    for (const auto& [pid, seconds] : cpu)
        run.cpu += seconds;
    run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.attempts = ReadHistory(HistoryFileIn(folder));
    return run;
}

bool AllSucceeded(const Run& run, int count) {
    return run.exitCode == 0 && int(run.attempts.size()) == count &&
           std::all_of(run.attempts.begin(), run.attempts.end(),
                       [](const UpdateAttempt& a) { return a.outcome == UpdateAttempt::Outcome::Succeeded; });
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString firmware = dir.filePath(QStringLiteral("KAV.1F.FWR"));
    if (!dir.isValid() || !Pack(firmware)) {
        std::fputs("bench_parallel: no firmware file\n", stderr);
        return 1;
    }
    QDir(dir.path()).mkpath(QStringLiteral("alone"));
    QDir(dir.path()).mkpath(QStringLiteral("drawer"));
    Run alone, drawer;
    {
        const Simulators one(1, 100001);
        alone = Update(one.Paths(), firmware, dir.filePath(QStringLiteral("alone")));
    }
    {
        const Simulators four(kDcs, 200001);
        drawer = Update(four.Paths(), firmware, dir.filePath(QStringLiteral("drawer")));
    }
    std::puts("A drawer of DCs: 4 simulated DCs at once (wire rate, 1 ms replies) against one alone");
    if (!AllSucceeded(alone, 1) || !AllSucceeded(drawer, kDcs)) {
        std::printf("  an update did not succeed (exit %d alone, %d for the four): no figures\n",
                    alone.exitCode, drawer.exitCode);
        return 1;
    }
    const double one = alone.attempts.front().seconds;
    double slowest = 0.0;
    for (const UpdateAttempt& a : drawer.attempts) {
        std::printf("  DC %lld: %.1f s\n", a.serial, a.seconds);
        slowest = std::max(slowest, a.seconds);
    }
    const double ratio = slowest / one;
    std::printf("  one DC alone: %.1f s; the slowest of the four: %.1f s = %.3f x alone (goal <= %.2f: %s)\n",
                one, slowest, ratio, kGoal, ratio <= kGoal ? "met" : "MISSED");
    std::printf(
        "  processor time of the program: alone %.2f s over %.1f s (%.1f%% of a core); four %.2f s over "
        "%.1f s (%.1f%% of a core)\n",
        alone.cpu, alone.wall, 100.0 * alone.cpu / alone.wall, drawer.cpu, drawer.wall,
        100.0 * drawer.cpu / drawer.wall);
    return 0;
}
