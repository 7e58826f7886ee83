#pragma once

#include "run/update_context.h"

// Lets the DC restart: the window stays responsive and nothing is sent. Ends early only when Close has
// stopped the link: false.
bool WaitForReset(UpdateContext& c, double seconds);

// Identifies the restarted DC, checks its model and confirms the new version in the task list; sets the clock
// when no profile is to be restored afterwards.
enum class Verification {
    Confirmed,
    NotConfirmed,  // the DC answered with an older version
    Failed,        // no answer, another DC, a stop, or the clock not taken: nothing more goes to this DC
};
Verification VerifyNewCode(UpdateContext& c);

// Versions are two-character strings compared character code by character code.
inline bool VersionOlder(const QString& a, const QString& b) {
    return QString::compare(a, b, Qt::CaseSensitive) < 0;
}
