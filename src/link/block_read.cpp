// Memory block read (0xB4): 0x5A and 128 data bytes per block.
#include <QScopeGuard>
#include <algorithm>

#include "link/comm_module.h"

namespace {
bool IsUnit(int unit) {
    return unit >= 0 && unit <= 32767;
}
}  // namespace

constexpr double kReadTimeout = 0.2;
constexpr int kReadResends = 3;  // per block

void CommModule::ReadBlocks(int from, int to) {
    const auto leftover = qScopeGuard([this] { RunWhileWaiting(); });
    LinkState& s = link_;
    if (!IsUnit(from) || !IsUnit(to)) {
        Trap();
        UpdateAborted_ = true;  // a read that never happened must not pass for one
        return;
    }
    if (stopped_) {
        UpdateAborted_ = true;
        return;
    }
    s.LinkStop = false;
    int address = from;
    const auto request = [&](bool discard) {
        s.PendingCommand = kReadBlock;
        s.ExpectedLength = 129;
        s.ReceivedCount = 0;
        s.ReplyComplete = false;
        PutAddress(kReadBlock, address);
        if (discard)
            Discard();
        StartTransaction();
        SendBytes(3);
    };
    request(true);
    int resends = 0;
    bool stoppedShort = false;  // a stop ended the wait before its reply, or before the next block
    while (true) {
        Yield(kReadTimeout);
        if (resends <= kReadResends &&
            ((Elapsed() > kReadTimeout && !s.ReplyComplete && !s.LinkStop && !s.LinkError) ||
             s.NakReceived) &&
            !stopped_) {
            ++resends;
            ++repeatedSinceSettled_;
            request(true);
        }
        if (!s.ReplyComplete && StopEnds(kReadTimeout)) {
            stoppedShort = true;
            break;
        }
        if (LastSendSpent(resends, kReadResends, kReadTimeout) || s.ReplyComplete || s.LinkStop ||
            s.LinkError) {
            if (s.ReplyComplete) {
                const std::size_t end =
                    std::min({std::size_t(130), s.ReadBuffer.size(), s.ReceiveBuffer.size()});
                std::copy(s.ReadBuffer.begin() + 1, s.ReadBuffer.begin() + static_cast<long>(end),
                          s.ReceiveBuffer.begin() + 1);
                address += 8;
                if (address <= to) {
                    if (stopped_) {
                        stoppedShort = true;
                        break;
                    }
                    resends = 0;
                    request(false);
                }
            }
            if (address >= to || s.LinkStop || resends > kReadResends || address == 4095 || s.LinkError)
                break;
        }
    }
    if (s.LinkStop || s.LinkError || (resends > kReadResends && !s.ReplyComplete) || stoppedShort)
        UpdateAborted_ = true;
}
