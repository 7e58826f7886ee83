#pragma once

#include <QByteArray>
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
