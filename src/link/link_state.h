#pragma once

#include <array>
#include <cstdint>
#include <vector>

// The transaction state shared by the command routines and the reply collection.
struct LinkState {
    std::int16_t PendingCommand = 0;  // -1: none; 0 falls under the same fallback rule
    std::int32_t ExpectedLength = 0;
    std::int32_t ReceivedCount = 0;
    bool ReplyComplete = false;
    bool NakReceived = false;
    bool LinkStop = false;
    bool LinkError = false;
    bool PortOpen = false;
    double TransactionStart = 0.0;
    std::array<std::uint8_t, 257> TransmitBuffer{};
    std::array<std::uint8_t, 129> BlockBuffer{};
    std::vector<std::uint8_t> ReceiveBuffer = std::vector<std::uint8_t>(130);
    std::vector<std::uint8_t> ReadBuffer = std::vector<std::uint8_t>(130);
};
