#include "profile/recovery.h"

#include <QFile>

#include "profile/backup.h"
#include "profile/restore.h"
#include "support/file_exists.h"

QString RecoveryInstructions(const TextDatabase& texts) {
    const QString br = QStringLiteral("\r\n");
    const auto step = [&](int n, Txt id) {
        return QString::number(n) + QStringLiteral(". ") + texts.GetText(id);
    };
    return step(1, Txt::RecoverStepPlugCable) + br + step(2, Txt::RecoverStepWatchMode) + br +
           step(3, Txt::RecoverStepClipCable) + br + texts.GetText(Txt::RecoverLinePcScreen) + br +
           texts.GetText(Txt::RecoverLineNoPcScreen) + br + texts.GetText(Txt::RecoverLineClipAgain) + br +
           br + step(4, Txt::RecoverStepKeepClipped) + br + step(5, Txt::RecoverStepOk) + br +
           step(6, Txt::RecoverStepCancel) + br;
}

namespace {

// The user gave no answer (the box was closed, input ended): the file stays, and the task list says where.
void KeepBackup(UpdateContext& c) {
    c.tasks.AddRow(IconInformation, c.Text(Txt::BackupKept).arg(c.session.profile.BackupFilePath), QString());
}

}  // namespace

void NameWaitingBackups(UpdateContext& c, bool afterRecovery) {
    const ProfileState& p = c.session.profile;
    for (const QString& file : p.BackupFilesOfThisRun) {
        if ((afterRecovery && file == p.BackupFilePath) || !FileExists(file))
            continue;
        const QString text = c.Text(Txt::BackupWaits).arg(file);
        c.tasks.AddRow(IconInformation, text, QString());
        c.view.ShowMessageBox(text, c.Text(Txt::ProfileRecovery),
                              kBoxOkInformation);  // the list may be hidden
    }
}

void ProfileRecovering(UpdateContext& c) {
    Session& s = c.session;
    const QString title = c.Text(Txt::ProfileRecovery);
    switch (c.view.ShowMessageBox(c.Text(Txt::RecoveryQuestion), title, kBoxYesNoWarning)) {
        case BoxAnswer::Yes:
            break;
        case BoxAnswer::No:  // the only answer that gives the saved profile up
            QFile::remove(s.profile.BackupFilePath);
            return;
        default:
            KeepBackup(c);
            return;
    }
    while (!s.profile.Restored) {
        const BoxAnswer answer =
            c.view.ShowMessageBox(RecoveryInstructions(c.texts), title, kBoxOkCancelInformation);
        if (answer == BoxAnswer::Cancel) {  // "Click Cancel to give up"
            s.profile.Restored = true;
            QFile::remove(s.profile.BackupFilePath);
            break;
        }
        if (answer != BoxAnswer::Ok) {
            KeepBackup(c);
            break;
        }
        c.priority.SetProcessPriority(0, 0, PriorityHigh);
        s.profile.Restored = false;
        if (!c.link.Identify()) {
            c.priority.SetProcessPriority(0, 0, PriorityNormal);
            continue;
        }
        QString damage;
        switch (GetBackupProfile(c, &damage)) {
            case BackupLookup::Usable:
                RestoreProfile(c);
                break;
            case BackupLookup::ReadFailed:  // as good as a silent DC: ask again
                c.priority.SetProcessPriority(0, 0, PriorityNormal);
                break;
            case BackupLookup::Damaged:  // nothing to restore from; the file stays for a closer look
                c.view.ShowMessageBox(damage, title, kBoxOkWarning);  // the task list may be hidden
                s.profile.Restored = true;
                break;
            case BackupLookup::NotUsable:
                // The file named now is the connected DC's: another DC's backup stays untouched.
                s.profile.Restored = true;
                QFile::remove(s.profile.BackupFilePath);
                break;
        }
    }
    // The last command takes the DC out of Deep Sleep, however the wizard got here.
    c.SetDeviceClockNow();
    c.link.LeaveDeepSleep();
}

void ForgetVanishedBackup(ProfileState& p) {
    p.Restored = p.Restored || !FileExists(p.BackupFilePath);
}

void LeaveForRecovery(ProfileState& p) {
    p.Restored = false;
}
