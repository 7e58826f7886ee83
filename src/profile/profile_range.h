#pragma once

#include <cstdint>

// A profile pointer as the header record holds it: a unit number for memory size 1024, a byte address
// otherwise.
int DecodeProfilePointer(std::uint8_t low, std::uint8_t high, int FwrMemorySize);

// The profile range after normalisation: a wrapped ring becomes the whole ring, starts and ends below the
// ring are raised to it. Blocks are 8 units; the first block starts at (start / 8) * 8.
struct ProfileRange {
    int start = 0;
    int end = 0;
    int blockCount = 0;
    int FirstUnit() const { return (start / 8) * 8; }
};
ProfileRange NormaliseProfileRange(int start, int end, int FwrMemorySize);

inline constexpr int kRingStart = 256;          // the first unit of the profile ring
inline constexpr int kMaxProfileBlocks = 1024;  // rows of the profile table
