// Identification (0x84), Deep Sleep (0xA8) and the status byte (0xBA).
#include "link/comm_module.h"
#include "support/ansi_text.h"

// Seconds per attempt, and resends after the first.
constexpr double kIdentifyTimeout = 2.0;
constexpr int kIdentifyResends = 10;

bool CommModule::ReadDeviceId() {
    LinkState& s = link_;
    if (stopped_)
        return false;
    const auto request = [&] {
        s.ExpectedLength = 18;
        s.ReceivedCount = 0;
        s.ReplyComplete = false;
        StartTransaction();
        Discard();
        s.PendingCommand = kIdentify;
        s.TransmitBuffer[0] = kIdentify;
        SendBytes(1);
    };
    request();
    int resends = 0;
    while (true) {
        Yield(kIdentifyTimeout);
        if (resends <= kIdentifyResends &&
            ((Elapsed() > kIdentifyTimeout && !s.ReplyComplete && !s.LinkStop) || s.NakReceived) &&
            !stopped_) {
            ++resends;
            ++repeatedSinceSettled_;
            request();
        }
        if (LastSendSpent(resends, kIdentifyResends, kIdentifyTimeout) || s.ReplyComplete || s.LinkStop ||
            StopEnds(kIdentifyTimeout))
            break;
    }
    if (!s.ReplyComplete)
        return false;
    // The firmware file's model id and version are read in this code page too, so they compare alike.
    DeviceIdText_ = FromAnsi(std::span(s.ReceiveBuffer).subspan(1, 16));
    return true;
}

constexpr double kDeepSleepTimeout = 1.0;
constexpr int kDeepSleepResends = 3;

bool CommModule::SetDeepSleep() {
    LinkState& s = link_;
    // Leaving Deep Sleep tidies the DC up: a stop does not hold it back.
    const bool stoppable = EnterDeepSleep_;
    if (stoppable && stopped_) {
        UpdateAborted_ = true;
        return false;
    }
    UpdateAborted_ = false;
    s.LinkError = false;
    s.PendingCommand = kDeepSleep;
    s.ExpectedLength = 1;
    s.ReceivedCount = 0;
    s.ReplyComplete = false;
    const auto send = [&] {
        s.TransmitBuffer[0] = kDeepSleep;
        s.TransmitBuffer[1] = EnterDeepSleep_ ? 0x55 : 0x99;
        StartTransaction();
        SendBytes(2);
    };
    send();
    int resends = 0;
    bool failed = false;
    while (true) {
        Yield(kDeepSleepTimeout);
        const bool stopping = stoppable && stopped_;
        if (resends <= kDeepSleepResends &&
            ((Elapsed() > kDeepSleepTimeout && !s.LinkError && !s.ReplyComplete) || s.NakReceived) &&
            !stopping) {
            ++resends;
            ++repeatedSinceSettled_;
            send();
        }
        // The last send's acknowledgement counts as well: the DC did as it was told.
        if (s.ReplyComplete || LastSendSpent(resends, kDeepSleepResends, kDeepSleepTimeout)) {
            failed = !s.ReplyComplete;
            break;
        }
        if (stopping && StopEnds(kDeepSleepTimeout)) {
            failed = true;
            break;
        }
        // Only a trap raises LinkError during this wait; without an end here the wait would never end.
        if (s.LinkError) {
            failed = true;
            break;
        }
    }
    UpdateAborted_ = failed;
    return !UpdateAborted_;
}

constexpr double kStatusTimeout = 1.0;
constexpr int kStatusResends = 10;

std::uint8_t CommModule::ReadDeviceStatus() {
    LinkState& s = link_;
    if (stopped_)
        return 0;
    const auto request = [&] {
        s.ExpectedLength = 2;
        s.ReceivedCount = 0;
        s.ReplyComplete = false;
        s.PendingCommand = kStatus;
        s.TransmitBuffer[0] = kStatus;
        StartTransaction();
        SendBytes(1);
    };
    request();
    int resends = 0;
    while (true) {
        Yield(kStatusTimeout);
        if (resends <= kStatusResends &&
            ((Elapsed() > kStatusTimeout && !s.ReplyComplete && !s.LinkStop) || s.NakReceived) && !stopped_) {
            ++resends;
            ++repeatedSinceSettled_;
            request();
        }
        if (LastSendSpent(resends, kStatusResends, kStatusTimeout) || s.ReplyComplete || s.LinkStop ||
            StopEnds(kStatusTimeout))
            break;
    }
    return s.ReplyComplete ? s.ReceiveBuffer[1] : 0;
}
