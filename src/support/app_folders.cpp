#include "support/app_folders.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "support/text_database.h"

AppFolders ResolveAppFolders(const QString& exeDir, const QString& appDirOption, const QString& userDataDir) {
    AppFolders f;
    f.ExeDir = exeDir;
    f.DataDir = QDir::cleanPath(QDir(exeDir).filePath(QStringLiteral("../share/kav-update")));
    if (!appDirOption.isEmpty()) {
        f.AppDir = f.BackupDir = f.UserDir = QDir(appDirOption).absolutePath();
        return f;
    }
    const QString database = QString::fromLatin1(kTextDatabaseName);
    const bool installed = !QFileInfo::exists(QDir(exeDir).filePath(database)) &&
                           QFileInfo::exists(QDir(f.DataDir).filePath(database));
    f.AppDir = installed ? f.DataDir : exeDir;
    f.UserDir = userDataDir;
    f.BackupDir = installed || !QFileInfo(exeDir).isWritable() ? userDataDir : exeDir;
    return f;
}

QString FindFileIn(const QString& name, const QStringList& folders) {
    for (const QString& dir : folders) {
        if (dir.isEmpty())
            continue;
        const QString path = QDir(dir).filePath(name);
        if (QFileInfo(path).isFile())
            return path;
    }
    return {};
}

QString RunLogFolder() {
#ifdef Q_OS_WIN
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    return data.isEmpty() ? QString() : data + QStringLiteral("/logs");
#else
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return QDir::cleanPath(state + QStringLiteral("/kav-update/logs"));
#endif
}
