#pragma once

#include <QDateTime>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <utility>

#include "link/event_pump.h"
#include "link/link_state.h"
#include "link/port.h"
#include "support/clock.h"

// The DC's serial protocol: one command and one reply at a time. Each command routine sets the transaction
// state, sends, and waits in the event loop for the reply collection to judge the reply complete, resending
// by its own limits. Wire bytes, resend counts and flag effects are what devices and callers rely on.
class CommModule {
public:
    CommModule(LinkState& link, bool& UpdateAborted, const bool& EnterDeepSleep, QString& DeviceIdText,
               Port& port, const Clock& clock, EventPump& pump);
    CommModule(const CommModule&) = delete;
    CommModule& operator=(const CommModule&) = delete;

    // Close while the DC is busy: the transaction in flight ends with its reply or its time-out, nothing is
    // sent again, and no further command goes out but the two that leave the DC tidy (its clock, leaving Deep
    // Sleep). A routine that ends so reports a failure. Holds until the asker resumes.
    void Stop() { stopped_ = true; }
    void Resume() { stopped_ = false; }
    bool Stopped() const { return stopped_; }

    // Something was sent again since the line last settled: a late reply to it may still come and put the
    // replies one behind their commands. A caller that cannot afford that checks what it read or wrote.
    bool MayBeBehind() const { return repeatedSinceSettled_ > 0; }

    // Work that need not hold up the next command (the progress shown for a block): ReadBlocks and WriteBlock
    // run it once, as soon as their first command is on its way, or on return when they sent none.
    void WhileWaiting(std::function<void()> work) { whileWaiting_ = std::move(work); }

    // The byte pipe.
    void SendBytes(
        int count);  // TransmitBuffer[0..count-1] and a trailing 0x00; nothing while none is pending
    void HandleReceivedData(std::span<const std::uint8_t> data);
    void WaitSeconds(double seconds);  // lets time pass without handling any received data
    // Lets every reply still on its way come, taking it for nothing, then clears the line: the replies are in
    // step with their commands again.
    void Settle(double seconds);

    // Connection.
    bool ReadDeviceId();
    bool SetDeepSleep();
    std::uint8_t ReadDeviceStatus();

    // Memory. Units are 16 bytes; a block is 8 units.
    void ReadBlocks(int from, int to);  // the last block read is left in ReceiveBuffer[1..128]
    bool SendBlockAddress(int unit, std::uint8_t cmd);
    // BlockBuffer[0..128]. True only when the DC acknowledged the block; anything else sets UpdateAborted.
    bool WriteBlock(int unit, std::uint8_t cmd);
    void SendValueCommand(std::uint8_t cmd, std::int32_t value);
    void SendValueCommandB8(std::int32_t value);
    bool SendRecordAddress(int unit);
    // BlockBuffer[0..16]. True when the DC took the record; a refused address skips it silently (false).
    bool WriteRecord(int unit);

    // The DC's clock.
    bool StartClockSet();
    void SetDeviceClock(const QString& date, const QString& time, std::uint8_t value);

    // Command bytes.
    static constexpr std::uint8_t kIdentify = 0x84, kDeepSleep = 0xA8, kStatus = 0xBA, kReadBlock = 0xB4,
                                  kWriteBlock = 0xB5, kCloseImage = 0xB6, kWriteBlock2 = 0xB7,
                                  kImage2Parameter = 0xB8, kCloseImage2 = 0xB9, kRecordAddress = 0xB2,
                                  kClockSet = 0x97;
    static constexpr std::uint8_t kAck = 0x5A, kRefusal = 0xA5;
    static constexpr std::uint8_t kClockValue = 233;
    static constexpr double kSettleSeconds = 1.0;  // beyond any reply that is merely slow

private:
    void Discard();
    void PutAddress(std::uint8_t cmd, int unit);  // TransmitBuffer = cmd, unit high byte, unit low byte
    void Trap();                                  // a value that cannot go on the wire: stop the link
    void SendValue(std::uint8_t cmd, std::int32_t value, bool trapsErrors);
    void Yield(double timeout) {
        RunWhileWaiting();
        pump_.YieldUntil(link_.TransactionStart + timeout);
    }
    void RunWhileWaiting() {
        if (whileWaiting_)
            std::exchange(whileWaiting_, nullptr)();
    }
    double Elapsed() const { return clock_.Now() - link_.TransactionStart; }
    // After a stop, a wait ends with its reply, a refusal, or its time-out, and resends nothing.
    bool StopEnds(double timeout) const { return stopped_ && (link_.NakReceived || Elapsed() > timeout); }
    // The last send a routine may make has had its answer or its time-out. A routine that gave up on the spot
    // would leave that answer on its way, to pass for the next command's.
    bool LastSendSpent(int resends, int limit, double timeout, bool refusalEnds = true) const {
        return resends > limit && ((refusalEnds && link_.NakReceived) || Elapsed() > timeout);
    }
    void StartTransaction() { link_.TransactionStart = clock_.Now(); }

    LinkState& link_;
    bool& UpdateAborted_;
    const bool& EnterDeepSleep_;
    QString& DeviceIdText_;
    Port& port_;
    const Clock& clock_;
    EventPump& pump_;
    std::function<void()> whileWaiting_;
    bool stopped_ = false;
    int repeatedSinceSettled_ = 0;
};

// The 9-byte clock record for a date "mm/dd/yy" and a time "hh:mm:ss": BCD fields, the hour in 12-hour form
// with bit 7 for the afternoon, the caller's value, 0, and the sum of the first eight bytes modulo 256.
std::array<std::uint8_t, 9> BuildClockRecord(const QString& date, const QString& time, std::uint8_t value);

// The texts the callers pass to SetDeviceClock for a moment of the PC's clock.
QString ClockDateText(const QDateTime& when);
QString ClockTimeText(const QDateTime& when);
