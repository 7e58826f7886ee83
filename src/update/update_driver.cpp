#include "update/update_driver.h"

#include "firmware/reset_verify.h"
#include "firmware/upload.h"
#include "profile/backup.h"
#include "profile/backup_file.h"
#include "profile/recovery.h"
#include "profile/restore.h"
#include "support/device_id.h"

namespace {

enum class VersionDecision { Write, AlreadyCurrent, BelowMinimum, DcIsNewer };

// What the DC's version and sub-version ask for, by the file's kind.
VersionDecision DecideOnVersion(const FirmwareImage& fw, const QString& version, std::uint8_t subVersion) {
    if (fw.CodeOnly) {
        if (VersionOlder(version, fw.MinDeviceVersion))
            return VersionDecision::BelowMinimum;
        return VersionOlder(version, fw.FwrVersion) ? VersionDecision::Write
                                                    : VersionDecision::AlreadyCurrent;
    }
    if (fw.CodeAndCode2) {
        return !VersionOlder(version, fw.FwrVersion) && subVersion >= fw.FwrSubVersion
                   ? VersionDecision::AlreadyCurrent
                   : VersionDecision::Write;
    }
    // The second image alone: an equal sub-version is written again.
    return subVersion > fw.FwrSubVersion ? VersionDecision::DcIsNewer : VersionDecision::Write;
}

// One update, from identification to the finish. aborted_: a step failed mid-way, so the DC may be anywhere
// between two commands and its profile is not written back now.
class UpdateRoad {
public:
    explicit UpdateRoad(UpdateContext& context) : c(context) {}
    bool Run();
    UpdateAttempt Attempt(bool succeeded);

private:
    bool Refuse(int icon, const QString& text, bool leaveDeepSleep, const char* step);
    bool NotAnswering(const char* step);
    // ok, after noting the step as where the attempt failed when it is the first that did.
    bool Noted(const char* step, bool ok) {
        if (!ok && failedStep_ == nullptr)
            failedStep_ = step;
        return ok;
    }
    void SayWhenLastUpdatedHere();
    bool EndAsCurrent();
    void InsertVersionRow(const QString& version, std::uint8_t subVersion);
    bool Write();
    bool Verify();
    bool EndRoad(bool failed);

    UpdateContext& c;
    bool aborted_ = false;
    UpdateAttempt attempt_;
    double startedAt_ = 0;
    const char* failedStep_ = nullptr;
    bool alreadyCurrent_ = false;
    bool backedUp_ = false;          // this DC's profile is in its file: restored or left for the recovery
    bool restoreConfirmed_ = false;  // and it is back in the DC
};

// Ends the update at a step that refused or failed before anything was written.
bool UpdateRoad::Refuse(int icon, const QString& text, bool leaveDeepSleep, const char* step) {
    Noted(step, false);
    c.tasks.AddRow(icon, text, QString());
    if (leaveDeepSleep)
        c.link.LeaveDeepSleep();
    c.NormalPriority();
    return false;
}

bool UpdateRoad::NotAnswering(const char* step) {
    Noted(step, false);
    c.tasks.SetLastRowStatus(c.Text(Txt::Error));
    c.tasks.AddRow(IconFailure, c.FailureText(Txt::DeviceNotAnswering), QString());
    aborted_ = true;
    c.NormalPriority();
    return false;
}

bool UpdateRoad::Verify() {
    switch (VerifyNewCode(c)) {
        case Verification::Confirmed:
            return true;
        case Verification::NotConfirmed:
            return Noted("verification", false);
        case Verification::Failed:
            break;
    }
    Noted("verification", false);
    aborted_ = true;
    return false;
}

// Upload, restart wait and verification for the file's kind. False when anything failed or the new version
// was not confirmed.
bool UpdateRoad::Write() {
    const FirmwareImage& fw = c.session.firmware;
    if (fw.CodeOnly || fw.CodeAndCode2) {
        aborted_ = !Noted("upload", UploadCode(c)) ||
                   !Noted("restart wait", WaitForReset(c, fw.CodeOnly ? kWaitCodeOnly : kWaitBetweenImages));
        if (aborted_)
            return false;
        if (fw.CodeOnly)
            return Verify();
        if (!c.link.Identify())
            return NotAnswering("restart wait");
    }
    aborted_ = !Noted("upload", UploadCode2(c)) || !Noted("restart wait", WaitForReset(c, kWaitCode2));
    return !aborted_ && Verify();
}

// The DC already runs the file's firmware: nothing is written.
bool UpdateRoad::EndAsCurrent() {
    const FirmwareImage& fw = c.session.firmware;
    ProfileState& p = c.session.profile;
    alreadyCurrent_ = true;
    c.tasks.AddRow(IconInformation, c.Text(Txt::AlreadyCurrent), QString());
    // A profile left behind by an earlier, interrupted update of this DC is written back now.
    const BackupLookup earlier = p.ProfileBackupActive ? GetBackupProfile(c) : BackupLookup::NotUsable;
    SayWhenLastUpdatedHere();
    backedUp_ = earlier == BackupLookup::Usable;
    if (earlier != BackupLookup::Usable) {
        if (earlier == BackupLookup::ReadFailed) {
            Noted("backup", false);
            // Without block 0 no one can tell whose profile waits: the user hears of every one that does.
            c.tasks.AddRow(IconFailure, c.FailureText(Txt::DeviceNotAnswering), QString());
            for (const QString& file : WaitingBackupFiles(c.session.BackupFolder(), fw.FwrModelNumber))
                c.tasks.AddRow(IconInformation, c.Text(Txt::BackupWaits).arg(file), QString());
        }
        p.ProfileBackupActive = false;
        c.NormalPriority();
        c.link.LeaveDeepSleep();
        return false;
    }
    return EndRoad(false);
}

void UpdateRoad::InsertVersionRow(const QString& version, std::uint8_t subVersion) {
    const FirmwareImage& fw = c.session.firmware;
    QString versionRow = fw.FwrModelName + QStringLiteral(", ") + c.Text(Txt::FirmwareVersion) +
                         QStringLiteral(": ") + version;
    if (fw.SubVersionInUse())
        versionRow += QLatin1Char('.') + QString::number(subVersion).rightJustified(2, '0');
    c.tasks.AddRow(IconInformation, versionRow, QString());
}

bool UpdateRoad::Run() {
    const FirmwareImage& fw = c.session.firmware;
    ProfileState& p = c.session.profile;

    attempt_.time = c.clock.LocalNow();
    startedAt_ = c.clock.Now();
    // Whose profile this is comes from block 0, read again by this attempt: an earlier DC's number must not
    // pass for this one's.
    p.DeviceSerialNumber = -1;
    c.priority.SetProcessPriority(0, 0, PriorityRealtime);
    c.tasks.AddRow(IconStarted, c.Text(Txt::IdentifyingDc), QStringLiteral("..."));
    const std::optional<QString> id = c.link.Identify();
    if (!id)
        return NotAnswering("identification");
    c.tasks.SetLastRowStatus(c.Text(Txt::Done));
    const QString wrongModel = c.Text(Txt::UpdateOnlyFor) + QLatin1Char(' ') + fw.FwrModelName;
    const std::optional<QString> version = FirmwareVersionOf(*id, fw.FwrModelId);
    if (!version)
        return Refuse(IconFailure, wrongModel + QLatin1Char('!'), false, "identification");
    std::uint8_t subVersion = 0;
    if (fw.SubVersionInUse()) {
        subVersion = c.link.ReadStatus().value_or(0);
        if (c.stop.Asked())  // the decision needs the sub-version that the stop may have cut off
            return Refuse(IconFailure, c.Text(Txt::StoppedByClose), true, "version check");
    }
    attempt_.versionBefore = *version;
    attempt_.subVersionBefore = fw.SubVersionInUse() ? subVersion : -1;

    switch (DecideOnVersion(fw, *version, subVersion)) {
        case VersionDecision::BelowMinimum:
            return Refuse(IconFailure,
                          wrongModel + QStringLiteral(", ") + c.Text(Txt::FirmwareVersion) +
                              QLatin1Char(' ') + fw.MinDeviceVersion + QLatin1Char(' ') +
                              c.Text(Txt::AndLater),
                          true, "version check");
        case VersionDecision::DcIsNewer:
            alreadyCurrent_ = true;
            return Refuse(IconInformation, c.Text(Txt::AlreadyCurrent), true, nullptr);
        case VersionDecision::AlreadyCurrent:
            return EndAsCurrent();
        case VersionDecision::Write:
            break;
    }
    c.tasks.SetLastRowStatus(c.Text(Txt::Done));
    InsertVersionRow(*version, subVersion);

    // No firmware byte goes to a DC whose profile is not safely on disk; its profile is then untouched.
    if (p.ProfileBackupActive) {
        const bool backedUp = Noted("backup", BackupProfile(c));
        SayWhenLastUpdatedHere();
        if (!backedUp) {
            aborted_ = true;
            p.ProfileBackupActive = false;
            return EndRoad(true);
        }
        backedUp_ = p.ProfileBackupActive;
    }
    return EndRoad(!Write());
}

// The restore, then the clock and leaving Deep Sleep, on every road that reached the DC's profile. failed: no
// new firmware was confirmed. The rows, the result and the history all follow from what the DC now holds:
// the firmware, this DC's profile (never taken, or confirmed back), and whether it left Deep Sleep. A backup
// of another DC that waits for the recovery at Close is not this update's.
bool UpdateRoad::EndRoad(bool failed) {
    ProfileState& p = c.session.profile;
    if (p.ProfileBackupActive) {
        if (!aborted_ && !c.stop.Asked()) {
            restoreConfirmed_ = Noted("restore", RestoreProfile(c));
        } else {
            if (!aborted_)  // Close came as the last step ended: no restore now
                c.tasks.AddRow(IconFailure, c.Text(Txt::StoppedByClose), QString());
            LeaveForRecovery(p);
        }
    }
    // Every road that got this far ends here, a profile waiting for the recovery or not: the recovery takes
    // it back on the DC's PC screen.
    c.SetDeviceClockNow();
    const bool left = Noted("leaving Deep Sleep", c.link.LeaveDeepSleep());
    const bool profileInDc = !backedUp_ || restoreConfirmed_;
    const bool succeeded = !failed && profileInDc && left;
    if (succeeded) {
        c.tasks.AddRow(IconInformation, c.Text(Txt::UpdateSucceeded), QString());
    } else {
        c.tasks.AddRow(IconFailure, c.Text(Txt::UpdateNotCompleted), QString());
        c.tasks.AddRow(IconInformation, c.Text(Txt::UpdateRetryHint), QString());
    }
    c.NormalPriority();  // on every road
    return succeeded;
}

// The DC's number is known once block 0 was read: the history says when it was last updated here.
void UpdateRoad::SayWhenLastUpdatedHere() {
    const ProfileState& p = c.session.profile;
    if (c.session.HistoryFile.isEmpty() || p.DeviceSerialNumber < 0)
        return;
    const auto last = LastSuccessOf(ReadHistory(c.session.HistoryFile), c.session.firmware.FwrModelName,
                                    p.DeviceSerialNumber);
    if (last) {
        c.tasks.AddRow(IconInformation,
                       c.Text(Txt::LastUpdatedHere)
                           .arg(last->time.date().toString(Qt::ISODate),
                                VersionText(last->versionAfter, last->subVersionAfter)),
                       QString());
    }
}

UpdateAttempt UpdateRoad::Attempt(bool succeeded) {
    const FirmwareImage& fw = c.session.firmware;
    const ProfileState& p = c.session.profile;
    using Outcome = UpdateAttempt::Outcome;
    UpdateAttempt a = attempt_;
    a.port = c.session.cable.InterfacePortName;
    a.model = fw.FwrModelName;
    a.serial = p.DeviceSerialNumber;
    a.seconds = c.clock.Now() - startedAt_;
    // The same decision as the rows': a success is one whatever step noted a trouble on the way (the clock).
    a.outcome = succeeded && alreadyCurrent_      ? Outcome::AlreadyCurrent
                : succeeded                       ? Outcome::Succeeded
                : c.stop.Asked()                  ? Outcome::Closed
                : alreadyCurrent_ && !failedStep_ ? Outcome::AlreadyCurrent
                                                  : Outcome::Failed;
    if (a.outcome == Outcome::Failed || a.outcome == Outcome::Closed)
        a.failedStep = QLatin1String(failedStep_ != nullptr ? failedStep_ : "restore");
    if (a.outcome == Outcome::Succeeded) {
        a.versionAfter = fw.FwrVersion;
        a.subVersionAfter = fw.SubVersionInUse() ? fw.FwrSubVersion : -1;
    } else if (a.outcome == Outcome::AlreadyCurrent) {
        a.versionAfter = a.versionBefore;
        a.subVersionAfter = a.subVersionBefore;
    }
    if (backedUp_) {
        a.backup = !restoreConfirmed_       ? UpdateAttempt::BackupFate::KeptForRecovery
                   : p.ArchivedAs.isEmpty() ? UpdateAttempt::BackupFate::Restored
                                            : UpdateAttempt::BackupFate::Archived;
        a.backupFile = p.ArchivedAs.isEmpty() ? p.BackupFilePath : p.ArchivedAs;
    }
    return a;
}

}  // namespace

bool UpdateFirmware(UpdateContext& c, UpdateAttempt* attempt) {
    UpdateRoad road(c);
    const bool succeeded = road.Run();
    if (attempt != nullptr)
        *attempt = road.Attempt(succeeded);
    return succeeded;
}
