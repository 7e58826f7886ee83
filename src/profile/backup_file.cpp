#include "profile/backup_file.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QtEndian>
#include <algorithm>

#include "support/durable_file.h"
#include "support/file_exists.h"

QString BackupFileName(const QString& appDir, int FwrModelNumber, qint64 DeviceSerialNumber) {
    const QString serial = QString::number(DeviceSerialNumber).rightJustified(6, QLatin1Char('0'));
    return QDir(appDir).filePath(QString::number(FwrModelNumber) + QLatin1Char('.') + serial +
                                 QStringLiteral(".bin"));
}

namespace {

QStringList FilesIn(const QString& folder, const QString& pattern) {
    const QDir dir(folder);
    QStringList files;
    for (const QString& name : dir.entryList({pattern}, QDir::Files, QDir::Name))
        files << dir.filePath(name);
    return files;
}

}  // namespace

QStringList WaitingBackupFiles(const QString& folder, int FwrModelNumber) {
    return FilesIn(folder, QString::number(FwrModelNumber) + QStringLiteral(".*.bin"));
}

QStringList BackupFilesOfSerial(const QString& folder, qint64 DeviceSerialNumber) {
    // The name's serial part, as BackupFileName writes it.
    const QString name = QFileInfo(BackupFileName(folder, 0, DeviceSerialNumber)).fileName();
    return FilesIn(folder, QStringLiteral("*") + name.mid(name.indexOf(u'.')));
}

namespace {
constexpr int kRows = 1024;
constexpr int kColumns = 130;
qsizetype CellOffset(int row, int column) {
    return 34 + 2 * (qsizetype(kRows) * column + row);
}
}  // namespace

QByteArray EncodeBackup(const ProfileState& profile) {
    QByteArray bytes(kBackupFileSize, '\0');
    std::copy(profile.ProfileHeader.begin(), profile.ProfileHeader.end(), bytes.begin());
    std::copy(profile.SerialDigits.begin(), profile.SerialDigits.end(), bytes.begin() + 17);
    for (int c = 0; c < kColumns; ++c) {
        for (int r = 0; r < kRows; ++r) {
            qToLittleEndian<qint16>(profile.ProfileBlocks[std::size_t(r)][std::size_t(c)],
                                    bytes.data() + CellOffset(r, c));
        }
    }
    return bytes;
}

bool DecodeBackup(const QByteArray& bytes, ProfileState& profile, QString* why) {
    if (bytes.size() != kBackupFileSize) {
        if (why)
            *why = QStringLiteral("%1 bytes instead of %2").arg(bytes.size()).arg(kBackupFileSize);
        return false;
    }
    std::vector<BlockRow> table(kRows);
    for (int c = 0; c < kColumns; ++c) {
        for (int r = 0; r < kRows; ++r) {
            const qint16 v = qFromLittleEndian<qint16>(bytes.constData() + CellOffset(r, c));
            if (c > 0 && (v < 0 || v > 255)) {
                if (why)
                    *why = QStringLiteral("block %1 holds %2 where a byte belongs").arg(r + 1).arg(v);
                return false;
            }
            table[std::size_t(r)][std::size_t(c)] = v;
        }
    }
    std::copy_n(bytes.begin(), 17, profile.ProfileHeader.begin());
    std::copy_n(bytes.begin() + 17, 17, profile.SerialDigits.begin());
    profile.ProfileBlocks = std::move(table);
    return true;
}

bool WriteBackupFile(const QString& path, const ProfileState& profile, QString* why) {
    QSaveFile file(path);
    const QByteArray bytes = EncodeBackup(profile);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush()) {
        if (why)
            *why = file.errorString();
        return false;
    }
    // On the disk before it takes the name, and the name on the disk before the backup counts as done: a
    // power cut of the PC then leaves the earlier file or this one.
    if (!SyncFileData(file.handle(), why))
        return false;
    if (!file.commit()) {
        if (why)
            *why = file.errorString();
        return false;
    }
    return SyncFolder(QFileInfo(path).absolutePath(), why);
}

QString ArchiveFolder(const QString& backupFolder) {
    return QDir(backupFolder).filePath(QStringLiteral("restored"));
}

QString NewArchivePath(const QString& backupFolder, const QString& stem, const QDateTime& when,
                       const char* suffix, QString* why) {
    const QString folder = ArchiveFolder(backupFolder);
    if (!QFileInfo(folder).isDir()) {
        if (!QDir().mkpath(folder)) {
            if (why)
                *why = QStringLiteral("the folder %1 cannot be made").arg(QDir::toNativeSeparators(folder));
            return QString();
        }
        if (!SyncFolder(QFileInfo(folder).absolutePath(), why))
            return QString();
    }
    const QString base =
        QDir(folder).filePath(stem + u'.' + when.toString(QStringLiteral("yyyyMMdd-HHmmss")));
    QString path = base + QLatin1String(suffix);
    for (int n = 2; FileExists(path); ++n)  // two in one second
        path = base + u'-' + QString::number(n) + QLatin1String(suffix);
    return path;
}

QStringList ArchivedFiles(const QString& backupFolder, const QString& stem, const char* suffix) {
    const QRegularExpression name(
        QStringLiteral("^%1\\.\\d{8}-\\d{6}(-\\d+)?%2$")
            .arg(QRegularExpression::escape(stem), QRegularExpression::escape(QLatin1String(suffix))));
    QStringList files;
    for (const QString& file : FilesIn(ArchiveFolder(backupFolder), stem + QStringLiteral(".*"))) {
        if (name.match(QFileInfo(file).fileName()).hasMatch())
            files << file;
    }
    return files;  // by name: by time
}

void PruneArchive(const QString& backupFolder, const QString& stem, const char* suffix) {
    const QStringList files = ArchivedFiles(backupFolder, stem, suffix);
    for (qsizetype i = 0; i + kArchiveKept < files.size(); ++i)
        QFile::remove(files[i]);
}

bool ArchiveRestoredBackup(const QString& path, const QDateTime& when, QString* why, QString* archivedAs) {
    const QFileInfo file(path);
    const QString folder = file.absolutePath(), stem = file.completeBaseName();
    const QString target = NewArchivePath(folder, stem, when, kRestoredSuffix, why);
    // Moved but not synced is still moved: the file must not be deleted as if it had stayed.
    if (target.isEmpty() || (!MoveDurably(path, target, why) && FileExists(path)))
        return false;
    PruneArchive(folder, stem, kRestoredSuffix);
    if (archivedAs != nullptr)
        *archivedAs = target;
    return true;
}
