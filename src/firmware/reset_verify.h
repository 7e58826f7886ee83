#pragma once

#include "run/update_context.h"

// Lets the DC restart: the window stays responsive and nothing is sent. Ends early only when Close has
// stopped the link.
void WaitForReset(UpdateContext& c, double seconds);

// Identifies the restarted DC, checks its model and confirms the new version in the task list; sets the clock
// when no profile is to be restored afterwards. True when the new version was confirmed.
bool VerifyNewCode(UpdateContext& c);

// Versions are two-character strings compared character code by character code.
inline bool VersionOlder(const QString& a, const QString& b) {
    return QString::compare(a, b, Qt::CaseSensitive) < 0;
}
