#include "firmware/reset_verify.h"

#include <algorithm>
#include <cmath>

#include "support/device_id.h"

namespace {

// Close stopped the link: the step fails, saying why.
void Stopped(UpdateContext& c) {
    c.tasks.InsertTaskList(IconFailure, c.Text(Txt::StoppedByClose), QString());
    c.session.UpdateAborted = true;
    c.ResetStage();
}

}  // namespace

void WaitForReset(UpdateContext& c, double seconds) {
    c.tasks.InsertTaskList(IconStarted, c.Text(Txt::WaitingForRestart), QStringLiteral("..."));
    const double start = c.clock.Now();
    int shown = -1;
    while (c.clock.Now() - start <= seconds) {
        if (c.comm.Stopped()) {  // Close: the DC is not asked anything more
            c.tasks.SetTaskStatus(c.Text(Txt::Error));
            Stopped(c);
            return;
        }
        // Wakes once a second, so the one watching sees the seconds go by.
        const int elapsed = static_cast<int>(c.clock.Now() - start);
        if (elapsed != shown) {
            shown = elapsed;
            c.tasks.ShowLive(c.Text(Txt::WaitSeconds).arg(elapsed).arg(static_cast<int>(std::ceil(seconds))));
        }
        c.pump.YieldUntil(std::min(start + seconds, start + elapsed + 1.0));
    }
    c.tasks.SetTaskStatus(c.Text(Txt::Done));
}

bool VerifyNewCode(UpdateContext& c) {
    Session& s = c.session;
    const FirmwareImage& fw = s.firmware;
    c.tasks.InsertTaskList(IconStarted, c.Text(Txt::CheckingNewFirmware), QStringLiteral("..."));
    if (!c.comm.ReadDeviceId()) {
        c.tasks.SetTaskStatus(c.Text(Txt::Error));
        c.tasks.InsertTaskList(IconFailure, c.FailureText(Txt::DeviceNotAnswering), QString());
        s.UpdateAborted = true;
        c.ResetStage();
        return false;
    }
    c.tasks.SetTaskStatus(c.Text(Txt::Done));
    if (!CheckDeviceId(s.device.DeviceIdText, fw.FwrModelId, s.device.DeviceVersion)) {
        c.tasks.InsertTaskList(IconFailure, c.Text(Txt::DcNotRecognised), QString());
        c.comm.SetDeepSleep();
        // Whatever Deep Sleep did, this is not the DC whose profile was saved: nothing is written back to it.
        s.UpdateAborted = true;
        c.ResetStage();
        return false;
    }
    bool confirmed = false;
    if (fw.CodeOnly) {
        confirmed = !VersionOlder(s.device.DeviceVersion, fw.FwrVersion);
    } else {
        s.device.DeviceSubVersion = c.comm.ReadDeviceStatus();
        if (c.comm.Stopped()) {  // no sub-version came: nothing is confirmed
            Stopped(c);
            return false;
        }
        const bool subVersionReached = s.device.DeviceSubVersion >= fw.FwrSubVersion;
        confirmed = fw.Code2Only ? subVersionReached
                                 : !VersionOlder(s.device.DeviceVersion, fw.FwrVersion) && subVersionReached;
    }
    if (confirmed)
        c.tasks.InsertTaskList(IconInformation, c.Text(Txt::VersionConfirmed), QString());
    if (!s.profile.ProfileBackupActive)
        c.SetDeviceClockNow();
    c.ResetStage();
    return confirmed;
}
