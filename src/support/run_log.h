#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>
#include <cstdint>
#include <deque>
#include <span>

#include "support/clock.h"

// The run log: what a support person needs to read a run afterwards. Its first line names the format; every
// other line starts with the milliseconds since the run began on the monotonic clock ("+1234.567"). Lines are
// collected in memory and written in batches; Flush() writes what is pending (at the end, and whenever
// something went wrong). The wire (every transmission and arrival) goes in as it passes when asked for (a
// trace); otherwise it is held until the update's end shows whether it is needed: kept after a failure or a
// stop, dropped after a success. A held wire keeps its first and its last part when it grows beyond them.
class RunLog {
public:
    static constexpr int kFormat = 1;
    static constexpr qsizetype kHeldHeadBytes = 1 << 20, kHeldTailBytes = 3 << 20;

    explicit RunLog(const Clock& clock) : clock_(clock), start_(clock.Now()) {}
    ~RunLog() { Flush(); }
    RunLog(const RunLog&) = delete;
    RunLog& operator=(const RunLog&) = delete;

    // Starts the file afresh. False: *error says why; the run goes on without a log.
    bool Open(const QString& path, QString* error);
    bool IsOpen() const { return file_.isOpen(); }
    QString Path() const { return file_.fileName(); }

    void Write(const QString& line);
    // One transmission ('>') or arrival ('<'): "+1234.567 > 84 00".
    void Bytes(char direction, std::span<const std::uint8_t> bytes);
    void Flush();

    void WriteWireAtOnce(bool atOnce) { wireAtOnce_ = atOnce; }
    // The wire held so far into the log, after a line that says why and what of it was left out; or gone,
    // with a line that says so (a replay of the log cannot go past that point).
    void KeepHeldWire(const QString& why);
    void DropHeldWire();

private:
    void Stamp(QByteArray& into);
    void ClearHeldWire();

    const Clock& clock_;
    double start_;
    QFile file_;
    QByteArray pending_;
    bool wireAtOnce_ = false;
    QByteArray heldHead_;
    std::deque<QByteArray> heldTail_;
    qsizetype heldTailBytes_ = 0;
    qint64 heldLines_ = 0, leftOut_ = 0;
};

// A new log file's path in folder, named by the time; the oldest logs beyond `keep` (this one counted) go.
QString NewLogPath(const QString& folder, const QDateTime& now, int keep = 20);
