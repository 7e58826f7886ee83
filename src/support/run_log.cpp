#include "support/run_log.h"

#include <QDir>
#include <cstdio>

namespace {

constexpr qsizetype kBatchBytes = 64 * 1024;

}  // namespace

bool RunLog::Open(const QString& path, QString* error) {
    Flush();
    file_.close();
    pending_.clear();
    file_.setFileName(path);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        if (error != nullptr)
            *error = file_.errorString();
        return false;
    }
    return true;
}

void RunLog::Stamp() {
    char stamp[32];
    const int n = std::snprintf(stamp, sizeof stamp, "+%.3f ", (clock_.Now() - start_) * 1000.0);
    pending_.append(stamp, n);
}

void RunLog::Write(const QString& line) {
    if (!IsOpen())
        return;
    Stamp();
    pending_.append(line.toUtf8());
    pending_.append('\n');
    if (pending_.size() >= kBatchBytes)
        Flush();
}

void RunLog::Bytes(char direction, std::span<const std::uint8_t> bytes) {
    if (!IsOpen())
        return;
    static constexpr char kHex[] = "0123456789ABCDEF";
    Stamp();
    pending_.append(direction);
    for (const std::uint8_t b : bytes) {
        const char digits[3] = {' ', kHex[b >> 4], kHex[b & 15]};
        pending_.append(digits, 3);
    }
    pending_.append('\n');
    if (pending_.size() >= kBatchBytes)
        Flush();
}

void RunLog::Flush() {
    if (!IsOpen() || pending_.isEmpty())
        return;
    file_.write(pending_);
    file_.flush();
    pending_.clear();
}

QString NewLogPath(const QString& folder, const QDateTime& now, int keep) {
    QDir dir(folder);
    dir.mkpath(QStringLiteral("."));
    const QString name = QStringLiteral("kav-update-") + now.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")) +
                         QStringLiteral(".log");
    // The names sort by time: the oldest come first.
    QStringList old = dir.entryList({QStringLiteral("kav-update-*.log")}, QDir::Files, QDir::Name);
    old.removeAll(name);
    while (!old.isEmpty() && old.size() >= keep)
        dir.remove(old.takeFirst());
    return dir.filePath(name);
}
