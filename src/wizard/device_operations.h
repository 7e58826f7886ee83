#pragma once

#include <QString>
#include <optional>

#include "run/update_history.h"

// What the stage machine asks of the device link, the firmware loader, the update and the recovery. Each
// implementation writes its own task-list rows and boxes through the wizard view.
class DeviceOperations {
public:
    virtual ~DeviceOperations() = default;

    // Reads and checks the firmware file. False: the file was rejected (the user has been told); start-up
    // ends.
    virtual bool LoadFirmware(const QString& path) = 0;
    // Finds and opens the interface cable's port, asking the user to plug it in as often as needed. False:
    // the user gave up; start-up ends.
    virtual bool TestInterface() = 0;
    // The DC's identification text; nothing when the DC did not answer.
    virtual std::optional<QString> IdentifyDc() = 0;
    virtual bool EnterDeepSleep() = 0;
    // The whole update. True when it ended with the success row. *attempt: what the road knows of it.
    virtual bool UpdateFirmware(UpdateAttempt& attempt) = 0;
    // Offers to write back a profile left unrestored; runs at Close while the profile waits for it.
    virtual void ProfileRecovering() = 0;
    // At Close, after any recovery: names each backup file of this run that still waits for its DC.
    virtual void NameWaitingBackups(bool afterRecovery) = 0;
    // Close confirmed while the DC is busy: the exchange ends after the transaction in flight and sends
    // nothing more but the clock and leaving Deep Sleep, until ClearStop.
    virtual void RequestStop() = 0;
    virtual void ClearStop() = 0;
    // Close: stop the link and let a running transaction notice it.
    virtual void StopLink() = 0;
    // Close: give back the port.
    virtual void ReleaseLink() = 0;
};
