#pragma once

#include <QString>

// A file written under a temporary name and renamed into place survives a power cut of the PC only when its
// data is on the disk before the rename and the folder's entry after it.
bool SyncFileData(int fd, QString* why);               // the file's data and size
bool SyncFolder(const QString& folder, QString* why);  // the folder's entries

// Gives a file a new name in the same file system, then syncs the folders: after a power cut of the PC the
// file is under one name or the other, never under none.
bool MoveDurably(const QString& from, const QString& to, QString* why);
