#include "update/profile_restore.h"

#include <QDir>
#include <QFileInfo>

#include "profile/backup.h"
#include "profile/backup_file.h"
#include "profile/restore.h"
#include "support/device_id.h"

namespace {

using Kind = FileRestoreEnd::Kind;

QString SixDigits(qint64 serial) {
    return QString::number(serial).rightJustified(6, u'0');
}

QString SerialOf(const ProfileState& p) {
    QString digits;
    for (int i = 0; i < 6; ++i)
        digits += QChar(u'0' + p.SerialDigits[std::size_t(i)]);
    return digits;
}

FileRestoreEnd NotAnswering(UpdateContext& c) {
    c.tasks.SetLastRowStatus(c.Text(Txt::Error));
    c.tasks.AddRow(IconFailure, c.FailureText(Txt::DeviceNotAnswering), QString());
    c.NormalPriority();
    return {Kind::NotAnswering, {}};
}

// The DC answers, is of the firmware file's model and is the one the file was taken from: its serial number
// in DeviceSerialNumber. Otherwise how it ended.
std::optional<FileRestoreEnd> CheckDc(UpdateContext& c, const ProfileState& fromFile, const QString& file) {
    const FirmwareImage& fw = c.session.firmware;
    c.tasks.AddRow(IconStarted, c.Text(Txt::IdentifyingDc), QStringLiteral("..."));
    const std::optional<QString> id = c.link.Identify();
    if (!id)
        return NotAnswering(c);
    if (!FirmwareVersionOf(*id, fw.FwrModelId)) {
        c.tasks.SetLastRowStatus(c.Text(Txt::Done));
        return FileRestoreEnd{Kind::Refused,
                              QStringLiteral("the DC (%1) is not a %2, the model of the firmware "
                                             "file: nothing was written to it")
                                  .arg(id->trimmed(), fw.FwrModelName)};
    }
    const auto zero = c.link.ReadBlock(0);
    if (!zero)
        return NotAnswering(c);
    c.tasks.SetLastRowStatus(c.Text(Txt::Done));
    c.session.profile.DeviceSerialNumber = SerialNumberOf(*zero);
    const QString dc = SixDigits(c.session.profile.DeviceSerialNumber);
    if (SerialOf(fromFile) != dc) {
        return FileRestoreEnd{Kind::Refused,
                              QStringLiteral("%1 holds the profile of the DC with serial number "
                                             "%2, not of this one (%3): nothing was written "
                                             "to it")
                                  .arg(QDir::toNativeSeparators(file), SerialOf(fromFile), dc)};
    }
    return std::nullopt;
}

// The DC's present profile into the archive. False: the backup failed (its rows say why).
bool KeepPresentProfile(UpdateContext& c) {
    const Session& s = c.session;
    const QString stem =
        QFileInfo(BackupFileName(QString(), s.firmware.FwrModelNumber, s.profile.DeviceSerialNumber))
            .completeBaseName();
    QString why;
    const QString path =
        NewArchivePath(s.BackupFolder(), stem, c.clock.LocalNow(), kBeforeRestoreSuffix, &why);
    if (path.isEmpty()) {
        c.tasks.AddRow(IconFailure,
                       c.Text(Txt::BackupFileNotWritten).arg(ArchiveFolder(s.BackupFolder()), why),
                       QString());
        return false;
    }
    if (!BackupProfileInto(c, path))
        return false;
    PruneArchive(s.BackupFolder(), stem, kBeforeRestoreSuffix);
    return true;
}

}  // namespace

FileRestoreEnd RestoreProfileFromFile(UpdateContext& c, const ProfileState& fromFile, const QString& file) {
    if (auto refused = CheckDc(c, fromFile, file))
        return *refused;
    const QString shown = QDir::toNativeSeparators(file);
    const QString archive = QDir::toNativeSeparators(ArchiveFolder(c.session.BackupFolder()));
    const QString question =
        c.Text(Txt::RestoreFileQuestion).arg(shown, SixDigits(c.session.profile.DeviceSerialNumber), archive);
    if (c.view.ShowMessageBox(question, c.Text(Txt::RestoreFileTitle), kBoxYesNoWarning) != BoxAnswer::Yes)
        return {Kind::Declined, {}};

    c.priority.SetProcessPriority(0, 0, PriorityRealtime);
    if (!c.link.EnterDeepSleep()) {
        c.tasks.AddRow(IconFailure, c.Text(Txt::DeviceNotAnswering), QString());
        c.link.LeaveDeepSleep();
        c.NormalPriority();
        return {Kind::NotAnswering, {}};
    }
    // Nothing is written before what the DC holds now is safe on disk.
    bool confirmed = false;
    if (KeepPresentProfile(c)) {
        ProfileState& p = c.session.profile;
        p = fromFile;
        p.BackupFilePath = file;
        confirmed = RestoreProfile(c, RestoredFile::Keep);
    } else {
        c.SetDeviceClockNow();
    }
    const bool left = c.link.LeaveDeepSleep();
    c.tasks.AddRow(confirmed ? IconInformation : IconFailure,
                   confirmed ? c.Text(Txt::RestoreFileDone).arg(shown)
                             : c.Text(Txt::RestoreFileFailed).arg(shown, archive),
                   QString());
    c.NormalPriority();
    return {confirmed && left ? Kind::Confirmed : Kind::Failed, {}};
}
