// Identification (0x84), Deep Sleep (0xA8) and the status byte (0xBA).
#include "link/comm_module.h"

bool CommModule::ReadDeviceId() {
    LinkState& s = link_;
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
        Yield(2.0);
        if ((resends < 11 && Elapsed() > 2.0 && !s.ReplyComplete && !s.LinkStop) || s.NakReceived) {
            ++resends;
            request();
        }
        if (resends > 10 || s.ReplyComplete || s.LinkStop) break;
    }
    if (!s.ReplyComplete) return false;
    QString id;
    for (int i = 1; i <= 16; ++i) id += QChar::fromLatin1(static_cast<char>(s.ReceiveBuffer[i]));
    DeviceIdText_ = id;
    return true;
}

bool CommModule::SetDeepSleep() {
    LinkState& s = link_;
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
        Yield(1.0);
        if ((Elapsed() > 1.0 && resends < 4 && !s.LinkError && !s.ReplyComplete) || s.NakReceived) {
            ++resends;
            send();
        }
        if (s.ReplyComplete || resends > 3) {
            failed = resends > 3;
            break;
        }
        // Only Close raises LinkError during this wait; without an end here the wait would never end.
        if (s.LinkError) {
            failed = true;
            break;
        }
    }
    UpdateAborted_ = failed;
    return !UpdateAborted_;
}

std::uint8_t CommModule::ReadDeviceStatus() {
    LinkState& s = link_;
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
        Yield(1.0);
        if ((resends < 11 && Elapsed() > 1.0 && !s.ReplyComplete && !s.LinkStop) || s.NakReceived) {
            ++resends;
            request();
        }
        if (resends > 10 || s.ReplyComplete || s.LinkStop) break;
    }
    return s.ReplyComplete ? s.ReceiveBuffer[1] : 0;
}
