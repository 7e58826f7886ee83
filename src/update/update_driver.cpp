#include "update/update_driver.h"

#include "firmware/reset_verify.h"
#include "firmware/upload.h"
#include "profile/backup.h"
#include "profile/backup_file.h"
#include "profile/restore.h"
#include "support/device_id.h"

namespace {

bool SuffixInUse(const FirmwareImage& fw) {
    return fw.VersionSuffix >= 1 && fw.VersionSuffix <= 99;
}

// Ends the update at a step that refused or failed before anything was written.
bool Refuse(UpdateContext& c, int icon, const QString& text, bool leaveDeepSleep) {
    c.tasks.InsertTaskList(icon, text, QString());
    c.session.UpdateAborted = true;
    if (leaveDeepSleep)
        c.comm.SetDeepSleep();
    c.ResetStage();
    return false;
}

bool NotAnswering(UpdateContext& c) {
    c.tasks.SetTaskStatus(c.Text(Txt::Error));
    c.tasks.InsertTaskList(IconFailure, c.FailureText(Txt::DeviceNotAnswering), QString());
    c.session.UpdateAborted = true;
    c.ResetStage();
    return false;
}

// Upload, restart wait and verification for the file's kind. False when anything failed or the new version
// was not confirmed.
bool Write(UpdateContext& c) {
    const FirmwareImage& fw = c.session.firmware;
    bool& aborted = c.session.UpdateAborted;
    if (fw.CodeOnly || fw.CodeAndCode2) {
        UploadCode(c);
        if (aborted)
            return false;
        if (fw.CodeOnly) {
            WaitForReset(c, kWaitCodeOnly);
            return !aborted && VerifyNewCode(c) && !aborted;
        }
        WaitForReset(c, kWaitBetweenImages);
        if (aborted)
            return false;
        if (!c.comm.ReadDeviceId()) {
            NotAnswering(c);
            return false;
        }
    }
    UploadCode2(c);
    if (aborted)
        return false;
    WaitForReset(c, kWaitCode2);
    return !aborted && VerifyNewCode(c) && !aborted;
}

}  // namespace

bool UpdateFirmware(UpdateContext& c) {
    Session& s = c.session;
    const FirmwareImage& fw = s.firmware;
    DeviceState& dc = s.device;
    ProfileState& p = s.profile;

    c.priority.SetProcessPriority(0, 0, PriorityRealtime);
    c.tasks.InsertTaskList(IconStarted, c.Text(Txt::IdentifyingDc), QStringLiteral("..."));
    if (!c.comm.ReadDeviceId())
        return NotAnswering(c);
    c.tasks.SetTaskStatus(c.Text(Txt::Done));
    const QString wrongModel = c.Text(Txt::UpdateOnlyFor) + QLatin1Char(' ') + fw.FwrModelName;
    if (!CheckDeviceId(dc.DeviceIdText, fw.FwrModelId, dc.DeviceVersion)) {
        return Refuse(c, IconFailure, wrongModel + QLatin1Char('!'), false);
    }
    if (SuffixInUse(fw)) {
        dc.DeviceSubVersion = c.comm.ReadDeviceStatus();
        if (c.comm.Stopped())  // the decision needs the sub-version that the stop may have cut off
            return Refuse(c, IconFailure, c.Text(Txt::StoppedByClose), true);
    }

    bool current = false;
    if (fw.CodeOnly) {
        if (VersionOlder(dc.DeviceVersion, fw.MinDeviceVersion)) {
            return Refuse(c, IconFailure,
                          wrongModel + QStringLiteral(", ") + c.Text(Txt::FirmwareVersion) +
                              QLatin1Char(' ') + fw.MinDeviceVersion + QLatin1Char(' ') +
                              c.Text(Txt::AndLater),
                          true);
        }
        current = !VersionOlder(dc.DeviceVersion, fw.FwrVersion);
    } else if (fw.CodeAndCode2) {
        current = !VersionOlder(dc.DeviceVersion, fw.FwrVersion) && dc.DeviceSubVersion >= fw.FwrSubVersion;
    } else if (dc.DeviceSubVersion > fw.FwrSubVersion) {
        return Refuse(c, IconInformation, c.Text(Txt::AlreadyCurrent), true);
    }

    bool failed = false;
    if (current) {
        c.tasks.InsertTaskList(IconInformation, c.Text(Txt::AlreadyCurrent), QString());
        // A profile left behind by an earlier, interrupted update of this DC is written back now.
        const BackupLookup earlier = p.ProfileBackupActive ? GetBackupProfile(c) : BackupLookup::NotUsable;
        if (earlier != BackupLookup::Usable) {
            if (earlier == BackupLookup::ReadFailed) {
                // Without block 0 no one can tell whose profile waits: the user hears of every one that does.
                c.tasks.InsertTaskList(IconFailure, c.FailureText(Txt::DeviceNotAnswering), QString());
                for (const QString& file : WaitingBackupFiles(s.BackupFolder(), fw.FwrModelNumber))
                    c.tasks.InsertTaskList(IconInformation, c.Text(Txt::BackupWaits).arg(file), QString());
            }
            p.ProfileBackupActive = false;
            c.ResetStage();
            c.comm.SetDeepSleep();
            return false;
        }
    } else {
        c.tasks.SetTaskStatus(c.Text(Txt::Done));
        QString version = fw.FwrModelName + QStringLiteral(", ") + c.Text(Txt::FirmwareVersion) +
                          QStringLiteral(": ") + dc.DeviceVersion;
        if (SuffixInUse(fw))
            version += QLatin1Char('.') + QString::number(dc.DeviceSubVersion).rightJustified(2, '0');
        c.tasks.InsertTaskList(IconInformation, version, QString());

        bool backupFailed = false;
        if (p.ProfileBackupActive) {
            BackupProfile(c);
            backupFailed = s.UpdateAborted;
        }
        // No firmware byte goes to a DC whose profile is not safely on disk; its profile is then untouched.
        failed = backupFailed || !Write(c);
        if (backupFailed)
            p.ProfileBackupActive = false;
    }

    // Without a backup of its own the update leaves ProfileRestored as it began: True, unless a backup of an
    // earlier attempt in this run still waits for the recovery at Close.
    if (p.ProfileBackupActive) {
        if (!s.UpdateAborted && !c.comm.Stopped()) {
            RestoreProfile(c);
        } else {
            if (!s.UpdateAborted)  // Close came as the last step ended: no restore now
                c.tasks.InsertTaskList(IconFailure, c.Text(Txt::StoppedByClose), QString());
            s.wizard.ProfileRestored = false;
        }
    }
    // Every road ends here, a profile waiting for the recovery or not: the recovery takes it back on the
    // DC's PC screen. A reply that comes late to a step that gave up must not pass for the clock's.
    if (failed || s.UpdateAborted || !s.wizard.ProfileRestored)
        c.comm.Settle(CommModule::kSettleSeconds);
    c.SetDeviceClockNow();
    c.comm.SetDeepSleep();
    const bool succeeded = !failed && !s.UpdateAborted && s.wizard.ProfileRestored;
    if (succeeded) {
        c.tasks.InsertTaskList(IconInformation, c.Text(Txt::UpdateSucceeded), QString());
    } else {
        c.tasks.InsertTaskList(IconFailure, c.Text(Txt::UpdateNotCompleted), QString());
        c.tasks.InsertTaskList(IconInformation, c.Text(Txt::UpdateRetryHint), QString());
    }
    c.ResetStage();  // normal priority again, on every road
    return succeeded;
}
