#pragma once

#include "run/update_context.h"

// Writes the first / second code image block by block, then closes it with its value command(s). True when
// every block and the closing were acknowledged.
bool UploadCode(UpdateContext& c);
bool UploadCode2(UpdateContext& c);
