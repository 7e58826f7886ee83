#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>
#include <cstdint>
#include <span>

#include "support/clock.h"

// The run log: what a support person needs to read a run afterwards. Every line starts with the milliseconds
// since the run began on the monotonic clock ("+1234.567"). Lines are collected in memory and written in
// batches; Flush() writes what is pending (at the end, and whenever something went wrong).
class RunLog {
public:
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

private:
    void Stamp();

    const Clock& clock_;
    double start_;
    QFile file_;
    QByteArray pending_;
};

// A new log file's path in folder, named by the time; the oldest logs beyond `keep` (this one counted) go.
QString NewLogPath(const QString& folder, const QDateTime& now, int keep = 20);
