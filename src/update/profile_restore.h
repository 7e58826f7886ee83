#pragma once

#include <QString>

#include "run/update_context.h"

// How putting a backup file's profile into its DC ended. Refused and Declined wrote nothing to the DC.
struct FileRestoreEnd {
    enum class Kind { Confirmed, Failed, NotAnswering, Refused, Declined } kind = Kind::Failed;
    QString refusal;  // Refused: why, in plain English
};

// kav-update --restore-profile: `fromFile` is the file's profile as LoadBackupFile left it. Identifies the DC
// and refuses a DC of another model or serial number; asks Yes/No; puts the DC into Deep Sleep, keeps its
// present profile in the archive, writes the file's profile with the restore's confirmation, sets the clock
// and leaves Deep Sleep. The file itself stays as it is.
FileRestoreEnd RestoreProfileFromFile(UpdateContext& c, const ProfileState& fromFile, const QString& file);
