#include "link/comm_module.h"

#include <algorithm>

CommModule::CommModule(LinkState& link, bool& UpdateAborted, const bool& EnterDeepSleep,
                       QString& DeviceIdText, Port& port, const Clock& clock, EventPump& pump)
    : link_(link),
      UpdateAborted_(UpdateAborted),
      EnterDeepSleep_(EnterDeepSleep),
      DeviceIdText_(DeviceIdText),
      port_(port),
      clock_(clock),
      pump_(pump) {
    port_.OnData = [this](std::span<const std::uint8_t> data) { HandleReceivedData(data); };
}

void CommModule::SendBytes(int count) {
    if (link_.PendingCommand == -1)
        return;
    link_.NakReceived = false;
    count = std::clamp(count, 0, static_cast<int>(link_.TransmitBuffer.size()));
    std::vector<std::uint8_t> wire(link_.TransmitBuffer.begin(), link_.TransmitBuffer.begin() + count);
    wire.push_back(0x00);
    port_.Transmit(wire);
}

void CommModule::Discard() {
    port_.Discard();
}

void CommModule::PutAddress(std::uint8_t cmd, int unit) {
    link_.TransmitBuffer[0] = cmd;
    link_.TransmitBuffer[1] = static_cast<std::uint8_t>(unit / 256);
    link_.TransmitBuffer[2] = static_cast<std::uint8_t>(unit % 256);
}

void CommModule::Trap() {
    link_.LinkError = true;
    link_.LinkStop = true;
}

namespace {

enum class Storing { Append, Overwrite };

// Stores a delivery; bytes that would land past the end of the buffer are dropped, not counted.
void Store(std::vector<std::uint8_t>& buffer, std::int32_t& count, std::span<const std::uint8_t> data,
           Storing storing) {
    std::size_t position = storing == Storing::Overwrite ? 0 : static_cast<std::size_t>(std::max(count, 0));
    for (std::uint8_t byte : data) {
        if (position >= buffer.size())
            break;
        buffer[position++] = byte;
        ++count;
    }
}

bool IsWriteCommand(int cmd) {
    switch (cmd) {
        case CommModule::kClockSet:
        case CommModule::kRecordAddress:
        case CommModule::kWriteBlock:
        case CommModule::kCloseImage:
        case CommModule::kWriteBlock2:
        case CommModule::kImage2Parameter:
        case CommModule::kCloseImage2:
            return true;
        default:
            return false;
    }
}

}  // namespace

void CommModule::HandleReceivedData(std::span<const std::uint8_t> data) {
    LinkState& s = link_;
    const int pending = s.PendingCommand;
    std::vector<std::uint8_t>& receive = s.ReceiveBuffer;
    const auto first = [](const std::vector<std::uint8_t>& b) { return b.empty() ? -1 : int(b[0]); };

    if (pending == kDeepSleep) {
        Store(receive, s.ReceivedCount, data, Storing::Overwrite);
        if (first(receive) == kAck && s.ReceivedCount >= 1) {
            s.ReplyComplete = true;
            s.PendingCommand = -1;
        }
        if (first(receive) == kRefusal)
            s.NakReceived = true;
    } else if (pending == kStatus) {
        Store(receive, s.ReceivedCount, data, Storing::Append);
        if (s.ReceivedCount >= 2) {
            s.ReplyComplete = true;
            s.PendingCommand = -1;
        }
        if (first(receive) == kRefusal)
            s.NakReceived = true;
    } else if (pending == kIdentify) {
        Store(receive, s.ReceivedCount, data, Storing::Append);
        if (s.ReceivedCount >= s.ExpectedLength) {
            s.ReplyComplete = true;
            s.PendingCommand = -1;
        }
        if (first(receive) == kRefusal)
            s.NakReceived = true;
    } else if (pending == kReadBlock) {
        Store(s.ReadBuffer, s.ReceivedCount, data, Storing::Append);
        if (first(s.ReadBuffer) == kAck && s.ReceivedCount >= s.ExpectedLength) {
            s.ReplyComplete = true;
            s.PendingCommand = -1;
        }
        if (first(s.ReadBuffer) == kRefusal)
            s.NakReceived = true;
    } else if (IsWriteCommand(pending)) {
        // The command stays pending: the data phase that follows an address is judged by the same rule.
        Store(receive, s.ReceivedCount, data, Storing::Append);
        if (first(receive) == kAck && s.ReceivedCount >= 1)
            s.ReplyComplete = true;
        if (first(receive) == kRefusal) {
            s.NakReceived = true;
            s.ReplyComplete = true;
        }
    } else if (s.ReceivedCount >= s.ExpectedLength) {
        s.PendingCommand = -1;
    }
}

void CommModule::Settle(double seconds) {
    link_.PendingCommand = -1;  // stores nothing
    const double until = clock_.Now() + seconds;
    while (clock_.Now() <= until)
        pump_.YieldUntil(until + 0.0005);
    Discard();
    repeatedSinceSettled_ = 0;
}

void CommModule::WaitSeconds(double seconds) {
    const double start = clock_.Now();
    while (clock_.Now() - start <= seconds)
        pump_.SleepUntil(start + seconds + 0.0005);
}
