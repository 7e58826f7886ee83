#pragma once

#include "run/update_context.h"

// At Close, while a profile is left unrestored: offers the restore, guides the user through reconnecting the
// DC and repeats it until it is confirmed or the user gives up. Only No at the question or Cancel at the
// instructions gives the backup file up; no answer keeps it and ends the recovery. The DC is left out of
// Deep Sleep whenever it was addressed.
void ProfileRecovering(UpdateContext& c);

// At Close: every backup file this run wrote or loaded that is still there waits for its DC (another DC's,
// updated earlier in the run, say); each gets a row and a box. The file the recovery just dealt with is not
// named again.
void NameWaitingBackups(UpdateContext& c, bool afterRecovery);

// The reconnect instructions of the recovery box: six numbered steps, lines ended by "\r\n".
QString RecoveryInstructions(const TextDatabase& texts);

// Before an attempt: a backup whose file is gone no longer waits for the recovery.
void ForgetVanishedBackup(ProfileState& p);
// An update that stopped between its backup and the restore: the backup waits for the recovery at Close.
void LeaveForRecovery(ProfileState& p);
