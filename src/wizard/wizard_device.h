#pragma once

#include <functional>

#include "run/update_context.h"
#include "wizard/cable_check.h"
#include "wizard/device_operations.h"

// The wizard's device side: the firmware loader, the cable check, the DC commands, the update and the
// recovery, all on one session and one link.
class WizardDevice final : public DeviceOperations {
public:
    // cable: the start-up check; none when the link is already there (the in-process simulated DC).
    WizardDevice(UpdateContext& context, CableCheck* cable) : c_(context), cable_(cable) {}

    bool GetCode() override;
    bool TestInterface() override { return cable_ == nullptr || cable_->TestInterface(); }
    bool ReadDeviceId() override;
    bool SetDeepSleep() override { return c_.comm.SetDeepSleep(); }
    bool UpdateFirmware() override;
    void ProfileRecovering() override;
    void NameWaitingBackups(bool afterRecovery) override;
    void RequestStop() override { c_.comm.Stop(); }
    void ClearStop() override { c_.comm.Resume(); }
    void StopLink() override;
    void ReleaseLink() override;

    std::function<void()> OnRelease;  // closes the port

private:
    UpdateContext& c_;
    CableCheck* cable_;
};
