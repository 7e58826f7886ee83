// Memory writes: 128-byte blocks (0xB5, 0xB7), value commands (0xB6, 0xB8, 0xB9), 16-byte records (0xB2).
#include <QScopeGuard>
#include <algorithm>

#include "link/comm_module.h"

namespace {
bool IsUnit(int unit) {
    return unit >= 0 && unit <= 32767;
}
bool IsValue(std::int32_t value) {
    return value >= 0 && value <= 65535;
}
}  // namespace

constexpr double kBlockAddressTimeout = 0.2;
constexpr int kBlockAddressResends = 20;

bool CommModule::SendBlockAddress(int unit, std::uint8_t cmd) {
    LinkState& s = link_;
    if (!IsUnit(unit)) {
        Trap();
        UpdateAborted_ = true;  // otherwise an upload would go on past a block it never sent
        return false;
    }
    if (stopped_) {
        UpdateAborted_ = true;
        return false;
    }
    const auto send = [&] {
        s.ReplyComplete = false;
        s.ReceivedCount = 0;
        s.PendingCommand = cmd;
        PutAddress(cmd, unit);
        Discard();
        StartTransaction();
        SendBytes(3);
    };
    send();
    int resends = 0;
    while (true) {
        Yield(kBlockAddressTimeout);
        if (resends <= kBlockAddressResends &&
            ((Elapsed() > kBlockAddressTimeout && !s.ReplyComplete && !s.LinkStop && !s.LinkError) ||
             s.NakReceived) &&
            !stopped_) {
            ++resends;
            ++repeatedSinceSettled_;
            s.NakReceived = false;
            send();
        }
        if (LastSendSpent(resends, kBlockAddressResends, kBlockAddressTimeout) || s.ReplyComplete ||
            s.LinkStop || s.LinkError || StopEnds(kBlockAddressTimeout))
            break;
    }
    if (s.ReplyComplete && !s.NakReceived)
        return true;
    UpdateAborted_ = true;
    return false;
}

// A block that times out or is refused starts again from its address, this many times.
constexpr double kBlockTimeout = 1.0;
constexpr int kBlockRetries = 3;

bool CommModule::WriteBlock(int unit, std::uint8_t cmd) {
    const auto leftover = qScopeGuard([this] { RunWhileWaiting(); });
    LinkState& s = link_;
    int failures = 0;
    while (true) {  // one attempt: the address, then the block
        if (stopped_) {
            UpdateAborted_ = true;
            return false;
        }
        s.LinkStop = false;
        Discard();
        if (!SendBlockAddress(unit, cmd) || UpdateAborted_)
            return false;
        std::copy_n(s.BlockBuffer.begin(), 129, s.TransmitBuffer.begin());
        s.ReceivedCount = 0;
        s.ReplyComplete = false;
        s.NakReceived = false;
        StartTransaction();
        Discard();
        SendBytes(129);
        while (true) {
            Yield(kBlockTimeout);
            if ((Elapsed() > kBlockTimeout && !s.ReplyComplete && !s.LinkStop && !s.LinkError) ||
                s.NakReceived) {
                ++repeatedSinceSettled_;
                if (++failures <= kBlockRetries && !stopped_)
                    break;  // the whole block again, from its address
                UpdateAborted_ = true;
                return false;
            }
            if (s.ReplyComplete)
                return true;
            // Only the DC's acknowledgement makes a block written: the trap's flags end the wait as a
            // failure.
            if (s.LinkStop || s.LinkError) {
                UpdateAborted_ = true;
                return false;
            }
        }
    }
}

void CommModule::SendValueCommand(std::uint8_t cmd, std::int32_t value) {
    SendValue(cmd, value, true);
}

// The B8 command differs only in not trapping: a value that cannot be sent does not stop the link.
void CommModule::SendValueCommandB8(std::int32_t value) {
    SendValue(kImage2Parameter, value, false);
}

constexpr double kValueTimeout = 1.0;
constexpr int kValueResends = 3;

void CommModule::SendValue(std::uint8_t cmd, std::int32_t value, bool trapsErrors) {
    LinkState& s = link_;
    if (!IsValue(value)) {
        if (trapsErrors)
            Trap();
        UpdateAborted_ = true;  // a closing command that was never sent is no success
        return;
    }
    if (stopped_) {
        UpdateAborted_ = true;
        return;
    }
    s.LinkError = false;
    const auto send = [&] {
        s.PendingCommand = cmd;
        s.ExpectedLength = 1;
        s.ReceivedCount = 0;
        s.ReplyComplete = false;
        PutAddress(cmd, value);
        Discard();
        StartTransaction();
        SendBytes(3);
    };
    send();
    int resends = 0;
    while (true) {
        Yield(kValueTimeout);
        // Deliberately blind to ReplyComplete: an acknowledgement seen only after the time-out is sent again.
        if (resends <= kValueResends && ((Elapsed() > kValueTimeout && !s.LinkError) || s.NakReceived) &&
            !stopped_) {
            ++resends;
            ++repeatedSinceSettled_;
            send();
        }
        // Only a trap raises LinkError during this wait, and nothing is resent then: it ends as a failure.
        if (LastSendSpent(resends, kValueResends, kValueTimeout) || s.ReplyComplete || s.LinkError ||
            StopEnds(kValueTimeout))
            break;
    }
    if (s.LinkError || !s.ReplyComplete || s.NakReceived)
        UpdateAborted_ = true;
}

constexpr double kRecordAddressTimeout = 0.1;
constexpr int kRecordAddressResends = 10;

bool CommModule::SendRecordAddress(int unit) {
    LinkState& s = link_;
    if (!IsUnit(unit)) {
        Trap();
        return false;
    }
    if (stopped_)
        return false;
    s.PendingCommand = kRecordAddress;
    s.ReplyComplete = false;
    s.ReceivedCount = 0;
    Discard();
    s.LinkStop = false;
    PutAddress(kRecordAddress, unit);
    StartTransaction();
    SendBytes(3);
    int resends = 0;
    while (true) {
        Yield(kRecordAddressTimeout);
        if (resends <= kRecordAddressResends && Elapsed() > kRecordAddressTimeout && !s.ReplyComplete &&
            !s.LinkStop && !s.LinkError && !stopped_) {
            s.ReplyComplete = false;
            ++resends;
            ++repeatedSinceSettled_;
            s.ReceivedCount = 0;
            s.PendingCommand = kRecordAddress;
            PutAddress(kRecordAddress, unit);
            StartTransaction();
            SendBytes(3);
        }
        // A refusal ends this wait by itself: it completes the reply.
        if (LastSendSpent(resends, kRecordAddressResends, kRecordAddressTimeout, false) || s.ReplyComplete ||
            s.LinkStop || s.LinkError || StopEnds(kRecordAddressTimeout))
            break;
    }
    return s.ReplyComplete && !s.NakReceived;
}

constexpr double kRecordTimeout = 0.2;
constexpr int kRecordResends = 10;

bool CommModule::WriteRecord(int unit) {
    LinkState& s = link_;
    s.LinkStop = false;
    Discard();
    if (!SendRecordAddress(unit)) {
        if (stopped_)
            UpdateAborted_ = true;  // not skipped by the DC: never sent, or left unanswered
        return false;
    }
    if (!s.ReceiveBuffer.empty())
        s.ReceiveBuffer[0] = 0;  // the address's acknowledgement is not the record's
    std::copy_n(s.BlockBuffer.begin(), 17, s.TransmitBuffer.begin());
    s.ReceivedCount = 0;
    s.ReplyComplete = false;
    StartTransaction();
    SendBytes(17);
    int resends = 0;
    while (true) {
        Yield(kRecordTimeout);
        if (resends <= kRecordResends &&
            ((Elapsed() > kRecordTimeout && !s.ReplyComplete && !s.LinkStop) || s.NakReceived) && !stopped_) {
            s.ReplyComplete = false;
            ++resends;
            ++repeatedSinceSettled_;
            s.ReceivedCount = 0;
            StartTransaction();
            SendBytes(17);
        }
        if (LastSendSpent(resends, kRecordResends, kRecordTimeout) || s.ReplyComplete || s.LinkStop ||
            StopEnds(kRecordTimeout))
            break;
    }
    const bool failed = s.LinkStop || !s.ReplyComplete || s.NakReceived;
    if (failed)
        UpdateAborted_ = true;
    return !failed;
}
