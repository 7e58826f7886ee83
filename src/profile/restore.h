#pragma once

#include "run/update_context.h"

// Writes the profile tables back into the DC, then its header record, reads the header back and compares it.
// Blocks that had to go out as 16-byte records, or were written on a noisy line, are read back and compared
// before the header is written. A
// confirmed restore moves the backup file into the archive (or, when it cannot, deletes it and says so),
// unless the file is to stay where it is; any failure keeps it: text 790 (a write failed, a record was
// skipped, a retried block reads back different or not at all) or 816 (the header). The DC's clock is set
// last, in every outcome. True when the header read back as written: the profile is back in the DC (also
// shown in session.profile.Restored).
enum class RestoredFile { Archive, Keep };
bool RestoreProfile(UpdateContext& c, RestoredFile file = RestoredFile::Archive);
