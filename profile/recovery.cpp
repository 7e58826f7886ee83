#include "profile/recovery.h"

#include <QFile>

#include "profile/backup.h"
#include "profile/restore.h"

QString RecoveryInstructions(const TextDatabase& texts) {
    const QString br = QStringLiteral("\r\n");
    const auto step = [&](int n, Txt id) { return QString::number(n) + QStringLiteral(". ") + texts.GetText(id); };
    return step(1, Txt::RecoverStepPlugCable) + br + step(2, Txt::RecoverStepWatchMode) + br +
           step(3, Txt::RecoverStepClipCable) + br + texts.GetText(Txt::RecoverLinePcScreen) + br +
           texts.GetText(Txt::RecoverLineNoPcScreen) + br + texts.GetText(Txt::RecoverLineClipAgain) + br + br +
           step(4, Txt::RecoverStepKeepClipped) + br + step(5, Txt::RecoverStepOk) + br +
           step(6, Txt::RecoverStepCancel) + br;
}

void ProfileRecovering(UpdateContext& c) {
    Session& s = c.session;
    const QString title = c.Text(Txt::ProfileRecovery);
    if (c.view.ShowMessageBox(c.Text(Txt::RecoveryQuestion), title, MbYesNoWarning) != IdYes) {
        QFile::remove(s.profile.BackupFilePath);
        return;
    }
    while (!s.wizard.ProfileRestored) {
        if (c.view.ShowMessageBox(RecoveryInstructions(c.texts), title, MbOkCancelInformation) != IdOk) {
            s.wizard.ProfileRestored = true;
            QFile::remove(s.profile.BackupFilePath);
            break;
        }
        c.priority.SetProcessPriority(0, 0, PriorityHigh);
        s.wizard.ProfileRestored = false;
        if (!c.comm.ReadDeviceId()) {
            c.priority.SetProcessPriority(0, 0, PriorityNormal);
            continue;
        }
        switch (GetBackupProfile(c)) {
            case BackupLookup::Usable:
                RestoreProfile(c);
                break;
            case BackupLookup::ReadFailed:  // as good as a silent DC: ask again
                c.priority.SetProcessPriority(0, 0, PriorityNormal);
                break;
            case BackupLookup::Damaged:  // nothing to restore from; the file stays for a closer look
                s.wizard.ProfileRestored = true;
                break;
            case BackupLookup::NotUsable:
                // The file named now is the connected DC's: another DC's backup stays untouched.
                s.wizard.ProfileRestored = true;
                QFile::remove(s.profile.BackupFilePath);
                break;
        }
    }
    c.SetDeviceClockNow();
    c.comm.SetDeepSleep();
}
