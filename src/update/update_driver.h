#pragma once

#include "run/update_context.h"
#include "run/update_history.h"

// The whole update: identify the DC, decide whether and what to write, keep its profile safe around the
// write, upload, wait for the restart, verify, restore, set the clock, leave Deep Sleep. True when it ended
// with the success row. *attempt receives what the road knows of it (not the firmware file or the log).
bool UpdateFirmware(UpdateContext& c, UpdateAttempt* attempt = nullptr);

// The restart waits after the first and after the second image.
inline constexpr double kWaitCodeOnly = 12.0, kWaitCode2 = 45.0, kWaitBetweenImages = 10.0;
