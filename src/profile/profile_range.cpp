#include "profile/profile_range.h"

int DecodeProfilePointer(std::uint8_t low, std::uint8_t high, int FwrMemorySize) {
    const int pointer = high * 256 + low;
    return FwrMemorySize == 1024 ? pointer : pointer >> 4;
}

ProfileRange NormaliseProfileRange(int start, int end, int FwrMemorySize) {
    if (end < start) {
        start = kRingStart;
        end = FwrMemorySize * 8 - 33;
    }
    if (start < kRingStart)
        start = kRingStart;
    if (end < kRingStart)
        end = kRingStart;
    int count = end / 8 - start / 8 + 1;
    if (count < 1)
        count = 0;
    return {start, end, count};
}
