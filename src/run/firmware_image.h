#pragma once

#include <QString>
#include <cstdint>
#include <vector>

#include "run/block_row.h"

// What the firmware file holds, decoded; filled once at start-up and read by the update.
struct FirmwareImage {
    bool CodeOnly = false;
    bool Code2Only = false;
    bool CodeAndCode2 = false;
    std::vector<BlockRow> CodeBlocks;  // row i-1 holds block i
    std::vector<BlockRow> Code2Blocks;
    std::int32_t CodeBlockCount = 0;
    std::int32_t Code2BlockCount = 0;
    std::int32_t CodeChecksum = 0;
    std::int32_t Code2Checksum = 0;
    std::int32_t Code2Parameter = 0;
    QString FwrVersion;
    std::uint8_t FwrSubVersion = 0;
    QString FwrModelName;
    QString FwrModelId;
    std::uint16_t FwrModelNumber = 0;
    std::uint16_t FwrMemorySize = 0;
    bool Demo = false;  // the generated demo firmware: for the simulated DC only
    QString MinDeviceVersion;
    std::uint8_t VersionSuffix = 0;

    bool Loaded() const { return CodeOnly || Code2Only || CodeAndCode2; }
    // The DC's sub-version decides too, and is read from its status.
    bool SubVersionInUse() const { return VersionSuffix >= 1 && VersionSuffix <= 99; }
};
