#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <vector>

// One image block as the device receives it: column 0 the unit address, 1..128 the data, 129 the check byte.
using CodeBlock = std::array<std::int16_t, 130>;

// What the firmware file holds, decoded; filled once at start-up and read by the update.
struct FirmwareImage {
    bool CodeOnly = false;
    bool Code2Only = false;
    bool CodeAndCode2 = false;
    std::vector<CodeBlock> CodeBlocks;  // row i-1 holds block i
    std::vector<CodeBlock> Code2Blocks;
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
};
