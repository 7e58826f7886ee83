#include "wizard/wizard_device.h"

#include "firmware/firmware_loader.h"
#include "profile/recovery.h"
#include "update/update_driver.h"

bool WizardDevice::LoadFirmware(const QString& path) {
    return LoadFirmwareFile(path, c_.session.firmware, c_.tasks, c_.texts, c_.view);
}

std::optional<QString> WizardDevice::IdentifyDc() {
    // A cable pulled while the user read the page: say so at once, rather than after the identify resends.
    if (cable_ != nullptr && !cable_->Reconnect())
        return std::nullopt;
    return c_.link.Identify();
}

bool WizardDevice::UpdateFirmware(UpdateAttempt& attempt) {
    return ::UpdateFirmware(c_, &attempt);
}

void WizardDevice::ProfileRecovering() {
    ::ProfileRecovering(c_);
}

void WizardDevice::NameWaitingBackups(bool afterRecovery) {
    ::NameWaitingBackups(c_, afterRecovery);
}

void WizardDevice::StopLink() {
    stop_.Ask();
    c_.link.WaitSeconds(1.0);
}

void WizardDevice::ReleaseLink() {
    if (OnRelease)
        OnRelease();
}
