#pragma once

#include "run/update_context.h"

// Writes the first / second code image block by block, then closes it with its value command(s). The outcome
// is left in UpdateAborted.
void UploadCode(UpdateContext& c);
void UploadCode2(UpdateContext& c);
