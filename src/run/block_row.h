#pragma once

#include <array>
#include <cstdint>

// One 128-byte block as the firmware image and the profile keep it: column 0 its address (a firmware block's
// unit; a profile block's unit minus 256), 1..128 the data bytes, 129 the check byte.
using BlockRow = std::array<std::int16_t, 130>;
