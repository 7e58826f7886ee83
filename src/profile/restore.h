#pragma once

#include "run/update_context.h"

// Writes the profile tables back into the DC, then its header record, reads the header back and compares it.
// Blocks that had to go out as 16-byte records are read back and compared before the header is written. A
// confirmed restore moves the backup file into the archive (or, when it cannot, deletes it and says so),
// unless the file is to stay where it is; any failure keeps it: text 790 (a write failed, a record was
// skipped, a retried block reads back different or not at all) or 816 (the header). The DC's clock is set
// last, in every outcome. Whether the profile is back shows in session.profile.Restored.
struct RestoreResult {
    bool confirmed = false;   // the header read back as written
    bool allAnswered = true;  // no exchange failed: a late reply cannot be on its way
};
enum class RestoredFile { Archive, Keep };
RestoreResult RestoreProfile(UpdateContext& c, RestoredFile file = RestoredFile::Archive);
