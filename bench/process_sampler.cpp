#include "bench/process_sampler.h"

#include <unistd.h>

#include <QFile>
#include <QStringList>

#include "support/clock.h"

namespace {

QByteArray ReadProc(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

void ProcessSampler::Sample() {
    const QByteArray stat = ReadProc(QStringLiteral("/proc/%1/stat").arg(pid_));
    const qsizetype name = stat.lastIndexOf(')');  // the command name may hold blanks
    if (name < 0)
        return;
    const QList<QByteArray> fields = stat.mid(name + 2).split(' ');
    if (fields.size() < 13)
        return;
    // utime and stime, fields 14 and 15 of the whole line
    const double ticks = fields[11].toDouble() + fields[12].toDouble();
    samples_.emplace_back(SystemClock().Now(), ticks / static_cast<double>(::sysconf(_SC_CLK_TCK)));
}

CpuShare ProcessSampler::Share(const std::vector<std::pair<double, double>>& intervals, double margin) const {
    CpuShare share;
    for (const auto& [from, to] : intervals) {
        const std::pair<double, double>* first = nullptr;
        const std::pair<double, double>* last = nullptr;
        for (const auto& s : samples_) {
            if (s.first < from + margin || s.first > to - margin)
                continue;
            if (first == nullptr)
                first = &s;
            last = &s;
        }
        if (first != nullptr && last != first) {
            share.cpu += last->second - first->second;
            share.wall += last->first - first->first;
        }
    }
    return share;
}

MachineLoad MachineLoad::Now() {
    MachineLoad load;
    load.average = QString::fromLatin1(ReadProc(QStringLiteral("/proc/loadavg")).split(' ').value(0));
    const QList<QByteArray> cpu =
        ReadProc(QStringLiteral("/proc/stat")).split('\n').value(0).simplified().split(' ');
    for (qsizetype i = 1; i < cpu.size(); ++i) {
        const double v = cpu[i].toDouble();
        load.total += v;
        if (i != 4 && i != 5)  // idle and iowait
            load.busy += v;
    }
    return load;
}

double MachineLoad::BusyPercentUntil(const MachineLoad& later) const {
    const double span = later.total - total;
    return span > 0.0 ? 100.0 * (later.busy - busy) / span : 0.0;
}
