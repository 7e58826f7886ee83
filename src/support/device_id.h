#pragma once

#include <QString>

// Tests the DC's identification text against the firmware's model id and, when it matches, takes the DC's
// firmware version from it. `s` is written back with each pair of blanks reduced to one blank, even when the
// result is false. DeviceVersion changes only on a match with exactly 3 or 4 words.
bool CheckDeviceId(QString& s, const QString& FwrModelId, QString& DeviceVersion);
