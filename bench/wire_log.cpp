#include "bench/wire_log.h"

#include <QFile>
#include <QTextStream>
#include <algorithm>

#include "link/command_set.h"

namespace {

constexpr double kSecondsPerByte = 10.0 / 38400.0;
constexpr int kBlockDataBytes = dc::kBlockBytes + 2;  // the data, their sum, the frame end

// A block has gone through: its read answered, or its data phase acknowledged.
bool CompletesBlock(const Transaction& t) {
    return t.Answered() && (t.Is(dc::ReadBlock) || t.frameBytes == kBlockDataBytes);
}

std::size_t FindFrom(const std::vector<Transaction>& t, std::size_t from, int command) {
    while (from < t.size() && !t[from].Is(command))
        ++from;
    return from;
}

int CountBlocks(const std::vector<Transaction>& t, const Phase& p) {
    return static_cast<int>(std::count_if(t.begin() + static_cast<long>(p.first),
                                          t.begin() + static_cast<long>(p.last) + 1, CompletesBlock));
}

// Block writes from `from` up to the first `until` command; with `withData` its data phase as well.
Phase Writes(const std::vector<Transaction>& t, std::size_t from, int until, bool withData) {
    Phase p;
    p.first = FindFrom(t, from, dc::WriteBlock);
    p.last = FindFrom(t, p.first, until) + (withData ? 1 : 0);
    p.found = p.last < t.size() && t[p.last].Answered();
    if (p.found)
        p.blocks = CountBlocks(t, p);
    return p;
}

}  // namespace

std::vector<Transaction> ReadWireLog(const QString& path) {
    std::vector<Transaction> result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return result;
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QStringList f = in.readLine().split(u' ');
        if (f.size() == 4 && f[0] == u'I') {
            Transaction t;
            t.heard = f[1].toDouble();
            t.frameBytes = f[2].toInt();
            t.first = f[3].toInt(nullptr, 16);
            result.push_back(t);
        } else if (f.size() == 5 && f[0] == u'O' && !result.empty()) {
            Transaction& t = result.back();
            t.answered = f[1].toDouble();
            t.replyBytes += f[2].toInt();
            t.due = f[3].toDouble();
            t.began = f[4].toDouble();
        }
    }
    return result;
}

double Phase::WireMinimum(const std::vector<Transaction>& t) const {
    double bytes = 0;
    for (std::size_t i = first; i <= last; ++i)
        bytes += t[i].frameBytes + t[i].replyBytes;
    return bytes * kSecondsPerByte;
}

double Phase::BlocksDoneAt(const std::vector<Transaction>& t, int done) const {
    for (std::size_t i = first; i <= last; ++i)
        if (CompletesBlock(t[i]) && --done <= 0)
            return t[i].answered;
    return End(t);
}

Phases FindPhases(const std::vector<Transaction>& t) {
    Phases p;
    Phase& b = p.backup;
    b.first = FindFrom(t, 0, dc::ReadBlock);
    b.last = b.first;
    while (b.last + 1 < t.size() && t[b.last + 1].Is(dc::ReadBlock))
        ++b.last;
    b.found = b.first < t.size() && t[b.last].Answered();
    if (!b.found)
        return p;
    b.blocks = CountBlocks(t, b);
    p.upload = Writes(t, b.last + 1, dc::CloseImage, false);
    if (p.upload.found)
        p.restore = Writes(t, p.upload.last + 1, dc::RecordAddress, true);
    return p;
}

std::vector<double> ReactionTimes(const std::vector<Transaction>& t, const Phase& phase) {
    std::vector<double> result;
    for (std::size_t i = phase.first; phase.found && i < phase.last; ++i)
        if (t[i].Answered())
            result.push_back(t[i + 1].heard - t[i].answered);
    return result;
}

std::vector<double> ReactionTimes(const std::vector<Transaction>& t, const Phases& phases) {
    std::vector<double> result;
    for (const Phase* p : {&phases.backup, &phases.upload, &phases.restore}) {
        const std::vector<double> some = ReactionTimes(t, *p);
        result.insert(result.end(), some.begin(), some.end());
    }
    return result;
}

std::vector<double> ReplyLateness(const std::vector<Transaction>& t, const Phases& phases) {
    std::vector<double> result;
    for (const Phase* p : {&phases.backup, &phases.upload, &phases.restore}) {
        for (std::size_t i = p->first; p->found && i <= p->last; ++i)
            if (t[i].Answered())
                result.push_back(t[i].began - t[i].due);
    }
    return result;
}

std::vector<std::pair<double, double>> Waits(const std::vector<Transaction>& t, const Phases& phases,
                                             double minimum) {
    std::vector<std::pair<double, double>> result;
    for (std::size_t i = phases.backup.first; phases.backup.found && i + 1 < t.size(); ++i) {
        const double from = t[i].Answered() ? t[i].answered : t[i].heard;
        if (t[i + 1].heard - from > minimum)
            result.emplace_back(from, t[i + 1].heard);
    }
    return result;
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const auto at = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(at, values.size() - 1)];
}
