#pragma once

#include <QString>
#include <QStringList>
#include <cstddef>
#include <deque>
#include <optional>
#include <string>

#include "app/command_line.h"
#include "support/recorded_run.h"

// --replay LOG: the update in a run log run again, in the terminal, against kav-dc-sim --replay LOG, with the
// log's firmware file and the person's decisions and answers, so that a support person sees what the diver
// saw. The run's own folders are a scratch folder: a replay touches no backup, history or log of the user's.
struct ReplayPlan {
    // A point of the wire: as many frames sent and bytes received.
    struct WirePoint {
        std::size_t frames = 0, bytes = 0;
        bool ReachedBy(const WirePoint& now) const { return now.frames >= frames && now.bytes >= bytes; }
    };
    // A Close asked while the program talked to the DC: made again where the recorded one stopped the wire.
    struct BusyClose {
        WirePoint at;
        bool signal = false;  // a signal's Close asks nothing; a click's asks, and its answer is in the input
    };

    RecordedRun recorded;
    CommandLine commandLine;  // the run's own: terminal mode, the simulated DC replaying, the firmware file
    std::string input;        // the decisions and answers, one a line, as the terminal reads them
    std::deque<BusyClose> closes;
};

// The plan for replaying the log that cl.Replay names in scratchDir; nullopt with *error set when the log or
// the firmware file cannot be used.
std::optional<ReplayPlan> PlanReplay(const CommandLine& cl, const QString& scratchDir, QString* error);

// How the run again compares with the log: empty when it is the same, else the first difference, said.
// dcVerdict: kav-dc-sim's exit status (0: every recorded frame heard as recorded; none when unknown).
QString ReplayDifference(const RecordedRun& recorded, const RecordedRun& again, const QString& logRowPrefix,
                         std::optional<int> dcVerdict);
