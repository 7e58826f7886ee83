#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

#include "bench/wire_log.h"

// The full update the benches drive: the 1024 KB model with a wrapped profile ring, so the whole ring is
// backed up and written back, a 1 ms DC at the wire rate, and a 1024-block image.
inline constexpr int kCodeBlocks = 1024;
inline constexpr int kProfileBlocks = 988;
inline constexpr double kRestartSeconds = 8.0;  // as in the simulator's options

// kav-dc-sim's options for that DC.
QStringList FullUpdateDcArgs();

// The 1024-block demo image for that DC, packed by kav-fwr; `extra` adds to its options.
bool PackFirmware(const QString& fwr, const QString& out, const QStringList& extra = {});

// kav-dc-sim on its pseudo-terminal, at the highest priority it may take: it is the measuring instrument, and
// its replies must leave on time whatever else the machine is doing.
class Simulator {
public:
    Simulator(const QString& program, const QStringList& args, const QString& wireLog);
    ~Simulator() { Stop(); }
    const QString& Path() const { return path_; }  // empty: it did not start
    const QString& Scheduling() const { return scheduling_; }
    // Ends it (its input closes) and reads what it heard.
    std::vector<Transaction> Stop();

private:
    QString log_;
    QProcess process_;
    QString path_;
    QString scheduling_ = QStringLiteral("normal");
};

struct UpdateRun {
    bool succeeded = false;  // the success row, and exit status 0
    int exitStatus = -1;     // -1: it did not start, crashed or was stopped at the time limit
    QByteArray out;
    QByteArray err;
    QString portLine;  // what it said about the port's latency
};

// kav-update in the terminal, answered as a user would: Next, Next, and Close once the final row is there.
// `started` gets its process id; `poll` runs every 50 ms or so while it runs.
UpdateRun RunUpdate(const QString& program, const QStringList& args,
                    const std::function<void(qint64)>& started = {}, const std::function<void()>& poll = {});
