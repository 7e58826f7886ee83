#pragma once

#include "run/update_context.h"

// Writes the profile tables back into the DC, then its header record, reads the header back and compares it.
// A confirmed restore deletes the backup file; any failure keeps it. The DC's clock is set last, in every
// outcome.
void RestoreProfile(UpdateContext& c);
