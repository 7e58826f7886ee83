#pragma once

#include <QString>
#include <QStringList>

// Where one run finds its files and puts its backups.
struct AppFolders {
    QString AppDir;     // the firmware file, the agreement file, the program started at close
    QString BackupDir;  // the profile backup files
    QString ExeDir;     // the executable's folder
    QString DataDir;    // the installed data folder, <prefix>/share/kav-update beside <prefix>/bin
    QString UserDir;    // the update history: the user's own data folder, or the folder --app-dir names
};

// appDirOption: the folder the user named (--app-dir), which then holds everything. Otherwise the
// executable's folder does, unless the program is installed (the data folder beside it holds the text
// database and the executable's folder does not) or that folder cannot be written: then the read-only files
// come from the installed data folder and the backups go to userDataDir, where a later run of the same user
// finds them.
AppFolders ResolveAppFolders(const QString& exeDir, const QString& appDirOption, const QString& userDataDir);

// The file of this name in the first of the folders that holds one (empty names of folders skipped); empty
// when none does.
QString FindFileIn(const QString& name, const QStringList& folders);

// The folder of the run logs. On Windows the application's local data folder + "/logs" (empty when there is
// none). Elsewhere the user's state folder, where the XDG base-directory convention puts logs:
// $XDG_STATE_HOME/kav-update/logs, or ~/.local/state/kav-update/logs when XDG_STATE_HOME is unset, empty or a
// relative path (which the convention says to ignore).
QString RunLogFolder();
