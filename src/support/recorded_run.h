#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

// A run log read back, for replaying the run: the wire in order, the user's decisions and box answers with
// their times, the rows and the end. Times are the log's milliseconds since the run began.
struct RecordedRun {
    struct WireLine {
        double ms = 0.0;
        bool sent = false;  // '>': the program's transmission; '<': an arrival
        std::vector<std::uint8_t> bytes;
    };
    // What a person did: a page's decision (next, back, close, again) or a box's answer (yes, no, ok,
    // cancel, none); a Close asked while the program talked to the DC is closeClick (its question follows
    // as an answer) or closeSignal (a signal: no question).
    struct Decision {
        enum Kind { Page, Answer, CloseClick, CloseSignal };
        double ms = 0.0;
        Kind kind = Page;
        QString word;
    };

    int format = 0;
    QString firmwarePath;
    QByteArray firmwareSha256;  // hex, lower case; empty when the log names none
    QString backupFolder;
    QStringList commandLine;  // the recorded program's arguments, the program first
    std::vector<WireLine> wire;
    std::vector<Decision> decisions;
    std::vector<double> stops;  // when a stop was asked
    QStringList rows;           // "> event : status", without the clock time
    std::vector<double> rowTimes;
    std::optional<int> exitStatus;
    // Why the wire in the log is not the whole exchange of the run (empty: it is).
    QString wireGap;

    // The step a moment belongs to: the step row that was open then (rows are logged as they end).
    QString StepAt(double ms) const;
};

// The log at path; nullopt with *error set when it is no run log, of a newer format, or damaged.
std::optional<RecordedRun> ReadRunLog(const QString& path, QString* error);
// The same, from the log's text.
std::optional<RecordedRun> ParseRunLog(const QByteArray& text, QString* error);
