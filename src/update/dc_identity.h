#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

#include "run/update_context.h"

// What the DC on the line tells about itself when asked without a write and without Deep Sleep.
struct DcIdentity {
    QString idText;                          // the 16-character identification
    std::optional<QString> version;          // nothing: not of the firmware file's model
    std::optional<std::uint8_t> subVersion;  // read only where the firmware file asks for it
    std::optional<qint64> serialNumber;      // nothing: block 0 did not come
    QStringList waitingBackups;              // this DC's backup files that wait to be restored
    QString damage;                          // a file of this DC's name that is no backup: why
};

// Identification, then the status where the firmware file asks for the sub-version and block 0 for the
// serial number, all read-only; a DC of another model than the file's is asked nothing more. The backup is
// looked up as the recovery does; without a firmware file every backup file of the DC's serial number counts.
// Nothing when the DC did not answer.
std::optional<DcIdentity> IdentifyConnectedDc(UpdateContext& c);
