// Setting the DC's clock: 0x97, then a 9-byte BCD record.
#include <algorithm>

#include "link/comm_module.h"

namespace {

int Field(const QString& text, int position) {  // two decimal digits at a 1-based character position
    return text.mid(position - 1, 2).toInt();
}

std::uint8_t Bcd(int v) {
    return static_cast<std::uint8_t>((v / 10) * 16 + v % 10);
}

std::uint8_t HourByte(int h) {
    if (h == 12)
        return 0x92;
    if (h > 12)
        return static_cast<std::uint8_t>(0x80 + Bcd(h - 12));
    return Bcd(h);
}

}  // namespace

std::array<std::uint8_t, 9> BuildClockRecord(const QString& date, const QString& time, std::uint8_t value) {
    std::array<std::uint8_t, 9> r{};
    r[0] = Bcd(Field(date, 7));
    r[1] = Bcd(Field(date, 4));
    r[2] = Bcd(Field(date, 1));
    r[3] = Bcd(Field(time, 7));
    r[4] = Bcd(Field(time, 4));
    r[5] = HourByte(Field(time, 1));
    r[6] = value;
    r[7] = 0;
    int sum = 0;
    for (int i = 0; i < 8; ++i)
        sum += r[i];
    r[8] = static_cast<std::uint8_t>(sum % 256);
    return r;
}

QString ClockDateText(const QDateTime& when) {
    return when.date().toString(QStringLiteral("MM/dd/yy"));
}
QString ClockTimeText(const QDateTime& when) {
    return when.time().toString(QStringLiteral("HH:mm:ss"));
}

constexpr double kClockStartTimeout = 0.1;
constexpr int kClockStartResends = 3;

bool CommModule::StartClockSet() {
    LinkState& s = link_;
    s.PendingCommand = kClockSet;
    s.ReplyComplete = false;
    s.ReceivedCount = 0;
    Discard();
    s.TransmitBuffer[0] = kClockSet;
    SendBytes(1);
    StartTransaction();
    int resends = 0;
    while (true) {
        Yield(kClockStartTimeout);
        if (resends <= kClockStartResends &&
            ((Elapsed() > kClockStartTimeout && !s.ReplyComplete && !s.LinkStop) || s.NakReceived)) {
            s.ReplyComplete = false;
            ++resends;
            ++repeatedSinceSettled_;
            s.ReceivedCount = 0;
            Discard();
            s.TransmitBuffer[0] = kClockSet;
            SendBytes(1);
            StartTransaction();
        }
        if (LastSendSpent(resends, kClockStartResends, kClockStartTimeout) || s.ReplyComplete || s.LinkStop)
            break;
    }
    return s.ReplyComplete && !s.NakReceived;
}

constexpr double kClockRecordTimeout = 1.0;
constexpr int kClockRecordResends = 3;

void CommModule::SetDeviceClock(const QString& date, const QString& time, std::uint8_t value) {
    LinkState& s = link_;
    const auto record = BuildClockRecord(date, time, value);
    std::copy(record.begin(), record.end(), s.BlockBuffer.begin());
    Discard();
    s.LinkStop = false;
    if (!StartClockSet()) {
        UpdateAborted_ = true;
        return;
    }
    const auto send = [&] {
        s.ReplyComplete = false;
        s.ReceivedCount = 0;
        std::copy_n(s.BlockBuffer.begin(), 9, s.TransmitBuffer.begin());
        Discard();
        SendBytes(9);
        StartTransaction();
    };
    send();
    int resends = 0;
    while (true) {
        Yield(kClockRecordTimeout);
        if (resends <= kClockRecordResends && Elapsed() > kClockRecordTimeout && !s.ReplyComplete &&
            !s.LinkStop) {
            ++resends;
            ++repeatedSinceSettled_;
            send();
        }
        // A refusal completes the reply and counts as taken.
        if (LastSendSpent(resends, kClockRecordResends, kClockRecordTimeout, false) || s.ReplyComplete ||
            s.LinkStop)
            break;
    }
    if (!s.LinkStop && !s.ReplyComplete)
        UpdateAborted_ = true;
}
