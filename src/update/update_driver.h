#pragma once

#include "run/update_context.h"

// The whole update: identify the DC, decide whether and what to write, keep its profile safe around the
// write, upload, wait for the restart, verify, restore, set the clock, leave Deep Sleep. True when it ended
// with the success row.
bool UpdateFirmware(UpdateContext& c);

// The restart waits after the first and after the second image.
inline constexpr double kWaitCodeOnly = 12.0, kWaitCode2 = 45.0, kWaitBetweenImages = 10.0;
