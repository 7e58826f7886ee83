#include "app/restore_profile_command.h"

#include <cstdio>

#include "app/identify_command.h"
#include "profile/backup.h"
#include "update/profile_restore.h"

namespace {

// Nothing was written: one line says why.
int Refuse(RunLog& log, const QString& line) {
    std::fprintf(stderr, "kav-update: %s\n", qPrintable(line));
    log.Write(line);
    return ExitStartupEnded;
}

// The file's name starts with the model number, as BackupFileName and the archive write it: a file of another
// model holds a profile laid out for another memory.
QString ModelRefusal(const QString& file, const FirmwareImage& fw) {
    const QString model = QFileInfo(file).fileName().section(u'.', 0, 0);
    if (model == QString::number(fw.FwrModelNumber))
        return QString();
    return QStringLiteral(
               "%1 is not named as a backup of a %2 (%3.<serial number>...bin): nothing was written")
        .arg(QDir::toNativeSeparators(file), fw.FwrModelName)
        .arg(fw.FwrModelNumber);
}

}  // namespace

int RunRestoreProfile(WizardAssembly& w, const CommandLine& cl) {
    const StartupOptions o = StartupOptionsFrom(cl, w.log);
    w.session.AppDir = o.AppDir;
    w.session.BackupDir = o.BackupDir;
    if (!OpenCommandTexts(w.texts, o))
        return Refuse(w.log, QString::fromLatin1(kTextDatabaseFallback));
    const QString firmware = FirmwareFileFor(o);
    if (!QFileInfo(firmware).isFile()) {
        return Refuse(w.log, QStringLiteral("there is no firmware file %1: it names the model the DC and the "
                                            "backup file must be of. Give it with --firmware FILE.")
                                 .arg(QDir::toNativeSeparators(firmware)));
    }
    if (!w.run.device.LoadFirmware(firmware))
        return ExitStartupEnded;  // the loader has said why
    const FirmwareImage& fw = w.session.firmware;
    const QString file = QDir::current().absoluteFilePath(cl.RestoreProfile);
    ProfileState fromFile = w.session.profile;
    QString why;
    if (LoadBackupFile(file, fw.FwrMemorySize, fromFile, &why) == BackupFileLoad::Damaged) {
        return Refuse(w.log, QStringLiteral("%1 is not a profile backup (%2): nothing was written")
                                 .arg(QDir::toNativeSeparators(file), why));
    }
    if (const QString refusal = ModelRefusal(file, fw); !refusal.isEmpty())
        return Refuse(w.log, refusal);
    if (!w.cable.TestInterface())
        return ExitStartupEnded;
    w.log.Write(QStringLiteral("port: %1, %2").arg(w.session.cable.InterfacePortName, w.portFoundBy));
    const FileRestoreEnd end = RestoreProfileFromFile(w.run.context, fromFile, file);
    switch (end.kind) {
        case FileRestoreEnd::Kind::Confirmed:
            return ExitUpdateSucceeded;
        case FileRestoreEnd::Kind::Refused:
            w.view.Finish();  // the rows before the line
            return Refuse(w.log, end.refusal);
        case FileRestoreEnd::Kind::Declined:
            return ExitClosedBeforeUpdate;
        case FileRestoreEnd::Kind::Failed:
        case FileRestoreEnd::Kind::NotAnswering:
            break;
    }
    return ExitUpdateFailed;
}
