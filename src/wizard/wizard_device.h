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
    WizardDevice(UpdateContext& context, StopRequest& stop, CableCheck* cable)
        : c_(context), stop_(stop), cable_(cable) {}

    bool LoadFirmware(const QString& path) override;
    bool TestInterface() override { return cable_ == nullptr || cable_->TestInterface(); }
    std::optional<QString> IdentifyDc() override;
    bool EnterDeepSleep() override { return c_.link.EnterDeepSleep(); }
    bool UpdateFirmware(UpdateAttempt& attempt) override;
    void ProfileRecovering() override;
    void NameWaitingBackups(bool afterRecovery) override;
    void RequestStop() override { stop_.Ask(); }
    void ClearStop() override { stop_.Clear(); }
    void StopLink() override;
    void ReleaseLink() override;

    void UseCable(CableCheck* cable) { cable_ = cable; }

    std::function<void()> OnRelease;  // closes the port

private:
    UpdateContext& c_;
    StopRequest& stop_;
    CableCheck* cable_;
};
