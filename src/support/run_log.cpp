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
    pending_.append("kav-update run log, format " + QByteArray::number(kFormat) + '\n');
    return true;
}

void RunLog::Stamp(QByteArray& into) {
    char stamp[32];
    const int n = std::snprintf(stamp, sizeof stamp, "+%.3f ", (clock_.Now() - start_) * 1000.0);
    into.append(stamp, n);
}

void RunLog::Write(const QString& line) {
    if (!IsOpen())
        return;
    Stamp(pending_);
    pending_.append(line.toUtf8());
    pending_.append('\n');
    if (pending_.size() >= kBatchBytes)
        Flush();
}

void RunLog::Bytes(char direction, std::span<const std::uint8_t> bytes) {
    if (!IsOpen())
        return;
    static constexpr char kHex[] = "0123456789ABCDEF";
    QByteArray line;
    line.reserve(16 + 3 * qsizetype(bytes.size()));
    Stamp(line);
    line.append(direction);
    for (const std::uint8_t b : bytes) {
        const char digits[3] = {' ', kHex[b >> 4], kHex[b & 15]};
        line.append(digits, 3);
    }
    line.append('\n');
    if (wireAtOnce_) {
        pending_.append(line);
        if (pending_.size() >= kBatchBytes)
            Flush();
        return;
    }
    ++heldLines_;
    if (heldHead_.size() < kHeldHeadBytes) {
        heldHead_.append(line);
        return;
    }
    heldTailBytes_ += line.size();
    heldTail_.push_back(std::move(line));
    while (heldTailBytes_ > kHeldTailBytes) {
        heldTailBytes_ -= heldTail_.front().size();
        heldTail_.pop_front();
        ++leftOut_;
    }
}

void RunLog::KeepHeldWire(const QString& why) {
    if (heldLines_ == 0)
        return;
    QString said = QStringLiteral("wire (%1): %2 lines").arg(why).arg(heldLines_);
    if (leftOut_ > 0)
        said += QStringLiteral(", %1 of them left out after the first %2 bytes")
                    .arg(leftOut_)
                    .arg(heldHead_.size());
    Write(said);
    pending_.append(heldHead_);
    if (leftOut_ > 0)
        pending_.append("... " + QByteArray::number(leftOut_) + " lines left out ...\n");
    for (const QByteArray& line : heldTail_)
        pending_.append(line);
    ClearHeldWire();
    Flush();
}

void RunLog::DropHeldWire() {
    if (heldLines_ > 0)
        Write(QStringLiteral("wire of a successful update left out: %1 lines").arg(heldLines_));
    ClearHeldWire();
}

void RunLog::ClearHeldWire() {
    heldHead_.clear();
    heldTail_.clear();
    heldTailBytes_ = 0;
    heldLines_ = leftOut_ = 0;
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
