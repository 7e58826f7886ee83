#include "wizard/wizard_device.h"

#include "firmware/firmware_loader.h"
#include "profile/recovery.h"
#include "update/update_driver.h"

bool WizardDevice::GetCode() {
    return ::GetCode(c_.session, c_.tasks, c_.texts, c_.view, c_.ResetStage);
}

bool WizardDevice::ReadDeviceId() {
    // A cable pulled while the user read the page: say so at once, rather than after the identify resends.
    if (cable_ != nullptr && !cable_->Reconnect())
        return false;
    return c_.comm.ReadDeviceId();
}

bool WizardDevice::UpdateFirmware() {
    return ::UpdateFirmware(c_);
}

void WizardDevice::ProfileRecovering() {
    ::ProfileRecovering(c_);
}

void WizardDevice::NameWaitingBackups(bool afterRecovery) {
    ::NameWaitingBackups(c_, afterRecovery);
}

void WizardDevice::StopLink() {
    c_.comm.Stop();
    c_.session.link.LinkStop = true;
    c_.session.link.LinkError = true;
    c_.comm.WaitSeconds(1.0);
}

void WizardDevice::ReleaseLink() {
    c_.session.link.ReceiveBuffer.resize(1);
    c_.session.link.ReadBuffer.resize(1);
    if (OnRelease)
        OnRelease();
}
