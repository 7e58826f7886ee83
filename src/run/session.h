#pragma once

#include <QString>

#include "link/cable_port.h"
#include "run/firmware_image.h"
#include "run/profile_state.h"

// What one run keeps from start-up to Close: its folders, the cable's port, the firmware file's image (loaded
// at start-up, read by the update) and the DC's profile (the profile layer's own).
struct Session {
    QString AppDir;     // the application folder: firmware file, agreement file
    QString BackupDir;  // the profile backup files; empty: the application folder
    const QString& BackupFolder() const { return BackupDir.isEmpty() ? AppDir : BackupDir; }
    QString HistoryFile;  // the update history; empty: none kept
    CablePort cable;
    FirmwareImage firmware;
    ProfileState profile;
};
