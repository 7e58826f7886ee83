#include "link/low_latency.h"

// The FTDI driver's latency timer is a setting in Device Manager; nothing to ask for at open.

const int kLowLatencyFlag = 0x2000;

std::optional<int> SystemSerialDriver::Flags(int) {
    return std::nullopt;
}

bool SystemSerialDriver::SetFlags(int, int) {
    return false;
}
