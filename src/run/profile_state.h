#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <vector>

#include "run/block_row.h"

// The DC's profile between backup and restore. ProfileBlocks[r][c]: row r (reading order), column 0 the
// block's unit minus 256, 1..128 the data bytes, 129 their sum modulo 256.
struct ProfileState {
    std::vector<BlockRow> ProfileBlocks = std::vector<BlockRow>(1024, BlockRow{});
    std::array<std::uint8_t, 17> ProfileHeader{};
    std::array<std::uint8_t, 17> SerialDigits{};
    std::int32_t ProfileStart = 0;
    std::int32_t ProfileEnd = 0;
    std::int16_t ProfileBlockCount = 0;
    std::int64_t DeviceSerialNumber = 0;
    QString BackupFilePath;
    QString
        ArchivedAs;  // where the backup went once its profile was confirmed in the DC; empty: not archived
    bool ProfileBackupActive = false;
    QStringList BackupFilesOfThisRun;  // written or loaded as usable: at Close, each one left is named
    // False while the backup at BackupFilePath waits for the recovery at Close: only a confirmed restore or
    // the user's giving it up sets it again.
    bool Restored = true;

    // The next DC of the run starts from nothing of this one's; only the files of the run stay, so that one
    // still waiting is named at Close.
    ProfileState ForNextDc() const {
        ProfileState next;
        next.BackupFilesOfThisRun = BackupFilesOfThisRun;
        return next;
    }
};
