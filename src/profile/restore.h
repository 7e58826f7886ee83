#pragma once

#include "run/update_context.h"

// Writes the profile tables back into the DC, then its header record, reads the header back and compares it.
// Blocks that had to go out as 16-byte records are read back and compared before the header is written. A
// confirmed restore deletes the backup file; any failure keeps it: text 790 (a write failed, a record was
// skipped, a retried block reads back different or not at all; UpdateAborted set) or 816 (the header). The
// DC's clock is set last, in every outcome.
void RestoreProfile(UpdateContext& c);
