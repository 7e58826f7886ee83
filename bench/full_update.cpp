#include "bench/full_update.h"

#include <sched.h>
#include <sys/resource.h>

#include <QElapsedTimer>

namespace {

const QByteArray kSucceeded = QByteArrayLiteral("The firmware update has been completed successfully.");
const QByteArray kNotCompleted = QByteArrayLiteral("The firmware update was not completed.");

}  // namespace

QStringList FullUpdateDcArgs() {
    return QStringLiteral(
               "--throttle --latency-ms 1 --memory 1024 --profile 5000:4000 --new-version 1B "
               "--restart-seconds 8")
               .split(u' ') +
           QStringList{"--id", "KAV1F V1A 1024KB"};
}

bool PackFirmware(const QString& fwr, const QString& out, const QStringList& extra) {
    QProcess p;
    p.start(fwr, QStringList{"pack", "--out", out, "--demo-image", QString::number(kCodeBlocks), "--memory",
                             "1024", "--fw-version", "1B", "--model-number", "513"} +
                     extra);
    return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

Simulator::Simulator(const QString& program, const QStringList& args, const QString& wireLog)
    : log_(wireLog) {
    process_.start(program, args + QStringList{"--wire-log", wireLog});
    while (process_.waitForReadyRead(5000) && !process_.canReadLine()) {
    }
    path_ = QString::fromLocal8Bit(process_.readLine()).trimmed();
    const auto pid = static_cast<pid_t>(process_.processId());
    if (pid <= 0)
        return;
    const sched_param realtime{10};
    if (::sched_setscheduler(pid, SCHED_FIFO, &realtime) == 0)
        scheduling_ = QStringLiteral("real-time (FIFO)");
    else if (::setpriority(PRIO_PROCESS, static_cast<id_t>(pid), -20) == 0)
        scheduling_ = QStringLiteral("nice -20");
}

std::vector<Transaction> Simulator::Stop() {
    if (process_.state() != QProcess::NotRunning) {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(5000))
            process_.kill();
        process_.waitForFinished(2000);
    }
    return ReadWireLog(log_);
}

UpdateRun RunUpdate(const QString& program, const QStringList& args,
                    const std::function<void(qint64)>& started, const std::function<void()>& poll) {
    UpdateRun run;
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted(10000))
        return run;
    if (started)
        started(p.processId());
    p.write("\n\n");
    QElapsedTimer limit;
    limit.start();
    while (p.state() != QProcess::NotRunning && limit.elapsed() < 400000) {
        p.waitForReadyRead(50);
        run.out += p.readAllStandardOutput();
        run.err += p.readAllStandardError();
        if (poll)
            poll();
        if (run.out.contains(kSucceeded) || run.out.contains(kNotCompleted))
            p.closeWriteChannel();
    }
    const bool stopped = p.state() != QProcess::NotRunning;
    if (stopped) {
        p.kill();
        p.waitForFinished(2000);
    }
    run.out += p.readAllStandardOutput();
    run.err += p.readAllStandardError();
    if (!stopped && p.exitStatus() == QProcess::NormalExit)
        run.exitStatus = p.exitCode();
    run.succeeded = run.out.contains(kSucceeded) && run.exitStatus == 0;
    for (const QByteArray& line : run.err.split('\n'))
        if (line.startsWith("Serial port"))
            run.portLine = QString::fromLocal8Bit(line);
    return run;
}
