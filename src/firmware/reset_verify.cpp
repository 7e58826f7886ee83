#include "firmware/reset_verify.h"

#include <algorithm>
#include <cmath>

#include "support/device_id.h"

namespace {

// Close stopped the link: the step fails, saying why.
void Stopped(UpdateContext& c) {
    c.tasks.AddRow(IconFailure, c.Text(Txt::StoppedByClose), QString());
    c.NormalPriority();
}

}  // namespace

bool WaitForReset(UpdateContext& c, double seconds) {
    c.tasks.AddRow(IconStarted, c.Text(Txt::WaitingForRestart), QStringLiteral("..."));
    const double start = c.clock.Now();
    int shown = -1;
    while (c.clock.Now() - start <= seconds) {
        if (c.stop.Asked()) {  // Close: the DC is not asked anything more
            c.tasks.SetLastRowStatus(c.Text(Txt::Error));
            Stopped(c);
            return false;
        }
        // Wakes once a second, so the one watching sees the seconds go by.
        const int elapsed = static_cast<int>(c.clock.Now() - start);
        if (elapsed != shown) {
            shown = elapsed;
            c.tasks.ShowLive(c.Text(Txt::WaitSeconds).arg(elapsed).arg(static_cast<int>(std::ceil(seconds))));
        }
        c.pump.YieldUntil(std::min(start + seconds, start + elapsed + 1.0));
    }
    c.tasks.SetLastRowStatus(c.Text(Txt::Done));
    return true;
}

Verification VerifyNewCode(UpdateContext& c) {
    const FirmwareImage& fw = c.session.firmware;
    c.tasks.AddRow(IconStarted, c.Text(Txt::CheckingNewFirmware), QStringLiteral("..."));
    const std::optional<QString> id = c.link.Identify();
    if (!id) {
        c.tasks.SetLastRowStatus(c.Text(Txt::Error));
        c.tasks.AddRow(IconFailure, c.FailureText(Txt::DeviceNotAnswering), QString());
        c.NormalPriority();
        return Verification::Failed;
    }
    c.tasks.SetLastRowStatus(c.Text(Txt::Done));
    const std::optional<QString> version = FirmwareVersionOf(*id, fw.FwrModelId);
    if (!version) {
        c.tasks.AddRow(IconFailure, c.Text(Txt::DcNotRecognised), QString());
        // Whatever leaving Deep Sleep did, this is not the DC whose profile was saved: nothing is written
        // back to it.
        c.link.LeaveDeepSleep();
        c.NormalPriority();
        return Verification::Failed;
    }
    bool confirmed = false;
    if (fw.CodeOnly) {
        confirmed = !VersionOlder(*version, fw.FwrVersion);
    } else {
        const std::uint8_t subVersion = c.link.ReadStatus().value_or(0);
        if (c.stop.Asked()) {  // no sub-version came: nothing is confirmed
            Stopped(c);
            return Verification::Failed;
        }
        const bool subVersionReached = subVersion >= fw.FwrSubVersion;
        confirmed =
            fw.Code2Only ? subVersionReached : !VersionOlder(*version, fw.FwrVersion) && subVersionReached;
    }
    if (confirmed)
        c.tasks.AddRow(IconInformation, c.Text(Txt::VersionConfirmed), QString());
    const bool clockTaken = c.session.profile.ProfileBackupActive || c.SetDeviceClockNow();
    c.NormalPriority();
    if (!clockTaken)
        return Verification::Failed;
    return confirmed ? Verification::Confirmed : Verification::NotConfirmed;
}
