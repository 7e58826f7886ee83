#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include "run/profile_state.h"

// The profile backup file: ProfileHeader (17 bytes), SerialDigits (17 bytes), then the 1024 x 130 table as
// 16-bit little-endian values, column by column. Nothing else: no magic, no checksum.
inline constexpr qint64 kBackupFileSize = 17 + 17 + 1024 * 130 * 2;  // 266,274

// <model number>.<serial, at least six digits>.bin in the application folder.
QString BackupFileName(const QString& appDir, int FwrModelNumber, qint64 DeviceSerialNumber);

// The backup files of this model in the folder, by path: each one a profile that waits for its DC.
QStringList WaitingBackupFiles(const QString& folder, int FwrModelNumber);
// The backup files of one DC in the folder, of whatever model.
QStringList BackupFilesOfSerial(const QString& folder, qint64 DeviceSerialNumber);

QByteArray EncodeBackup(const ProfileState& profile);

// Fills header, serial digits and table from a file's bytes. False, with nothing changed, for a file that is
// not a backup: the wrong length, or a data or check cell outside 0..255.
bool DecodeBackup(const QByteArray& bytes, ProfileState& profile, QString* why);

// Writes the file so that a crash or a full disk leaves the earlier file or none, never a part of one.
bool WriteBackupFile(const QString& path, const ProfileState& profile, QString* why);

// The archive: restored/ in the backup folder holds the files of profiles confirmed back in their DC (".bin")
// and of profiles a restore replaced (".before-restore.bin"), as <model>.<serial>.<yyyyMMdd-HHmmss><suffix>.
// No lookup of waiting backups looks into it. Of each DC and kind the newest kArchiveKept stay.
inline constexpr int kArchiveKept = 10;
inline constexpr const char* kRestoredSuffix = ".bin";
inline constexpr const char* kBeforeRestoreSuffix = ".before-restore.bin";
QString ArchiveFolder(const QString& backupFolder);
// A free name in the archive; stem: <model>.<serial>. The archive folder is made, durably, when missing.
// Empty, with *why, when it cannot be.
QString NewArchivePath(const QString& backupFolder, const QString& stem, const QDateTime& when,
                       const char* suffix, QString* why);
// The archive's files of one DC and kind, oldest first.
QStringList ArchivedFiles(const QString& backupFolder, const QString& stem, const char* suffix);
// Deletes all but the newest kArchiveKept of them.
void PruneArchive(const QString& backupFolder, const QString& stem, const char* suffix);
// Moves a backup file whose profile is confirmed in its DC into the archive, durably, then prunes. False, the
// file left where it was: *why. *archivedAs: where it went.
bool ArchiveRestoredBackup(const QString& path, const QDateTime& when, QString* why,
                           QString* archivedAs = nullptr);
