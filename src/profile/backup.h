#pragma once

#include "run/update_context.h"

// What GetBackupProfile found for the DC that answers now.
enum class BackupLookup {
    Usable,      // a file of this very DC with a non-empty profile: loaded into the tables
    NotUsable,   // no file, an empty range, or another DC's serial digits
    ReadFailed,  // block 0 could not be read: nothing is known about this DC
    Damaged,     // a file of this DC's name that is not a backup (the user has been told); left as it is
};

// The DC's serial number, which block 0 holds in BCD at bytes 10..12.
qint64 SerialNumberOf(const DeviceLink::Block& zero);

// Reads block 0 of the connected DC, names its backup file and, when the file exists, loads it. For a damaged
// file, *damage receives the text of the task row that reported it.
BackupLookup GetBackupProfile(UpdateContext& c, QString* damage = nullptr);

// Reads the DC's profile into the tables and the backup file, unless a usable backup of this DC is already
// there. False: the backup failed.
bool BackupProfile(UpdateContext& c);

// Reads the DC's profile into the tables and writes it to `path`, whatever waits for the DC elsewhere: a copy
// of what a restore is about to replace. The file does not wait for the DC. False: the backup failed.
bool BackupProfileInto(UpdateContext& c, const QString& path);

// A backup file's profile put into `into`, its range normalised for the memory size. Damaged, *why said, and
// `into` unchanged, for a file that cannot be read, is no backup, or holds more blocks than the table.
enum class BackupFileLoad { Loaded, Empty, Damaged };
BackupFileLoad LoadBackupFile(const QString& path, int FwrMemorySize, ProfileState& into, QString* why);

inline constexpr const char* kBackupTaskText = "Backup dive computer profile";
