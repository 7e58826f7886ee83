#pragma once

#include <QDateTime>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <utility>

#include "link/command_set.h"
#include "link/event_pump.h"
#include "link/port.h"
#include "support/clock.h"

// The link to the DC: runs one transaction at a time from its description in the command set, and the DC's
// commands on top of it. Every wait blocks in the event loop until a reply or the next time-out.
class DeviceLink {
public:
    enum class Outcome { Acknowledged, Refused, TimedOut, Stopped };
    struct Result {
        Outcome outcome = Outcome::TimedOut;
        std::span<const std::uint8_t> reply;  // what came, valid until the next transaction
        bool Acknowledged() const { return outcome == Outcome::Acknowledged; }
    };
    using Block = std::array<std::uint8_t, dc::kBlockBytes>;
    // The data, their sum, and the frame's end: built once per block, straight from the table it is kept in.
    using BlockFrame = std::array<std::uint8_t, dc::kBlockBytes + 2>;
    using RecordFrame = std::array<std::uint8_t, dc::kRecordBytes + 2>;
    enum class RecordWrite { Taken, Skipped, Failed };  // Skipped: the DC refused or ignored its address

    DeviceLink(Port& port, const Clock& clock, EventPump& pump);
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    // Sends `frame`, the 0x00 that ends every frame included, and waits as the transaction says.
    Result Run(const dc::Transaction& transaction, std::span<const std::uint8_t> frame);

    // Close while the DC is busy: the transaction in flight ends with its reply or its time-out, nothing is
    // sent again, and no stoppable transaction starts, until the asker resumes.
    void Stop() { stopped_ = true; }
    void Resume() { stopped_ = false; }
    bool Stopped() const { return stopped_; }

    // Something was sent again since the line last settled: a late reply to it may still come and put the
    // replies one behind their commands. A caller that cannot afford that checks what it read or wrote.
    bool MayBeBehind() const { return repeatedSinceSettled_ > 0; }
    // Lets every reply still on its way come, taking it for nothing, then clears the line.
    void Settle(double seconds);
    void WaitSeconds(double seconds);  // lets time pass without handling any received data

    // Work that need not hold up the next command (the progress shown for a block): ReadBlock and WriteBlock
    // run it once, as soon as their first frame is on its way, or on return when they sent none.
    void WhileWaiting(std::function<void()> work) { whileWaiting_ = std::move(work); }

    // The DC's commands. Units are 16 bytes; a block is 8 units.
    std::optional<QString> Identify();  // the 16-character identification
    bool EnterDeepSleep();
    bool LeaveDeepSleep();  // not held back by a stop: it leaves the DC tidy
    std::optional<std::uint8_t> ReadStatus();
    std::optional<Block> ReadBlock(int unit);
    // WriteBlock or WriteBlock2. True only when the DC acknowledged the block.
    bool WriteBlock(int unit, dc::Code command, const BlockFrame& data);
    bool SendValue(dc::Code command, std::int32_t value);  // CloseImage, Image2Parameter, CloseImage2
    RecordWrite WriteRecord(int unit, const RecordFrame& record);
    // Not held back by a stop. A refused record counts as taken.
    bool SetClock(const std::array<std::uint8_t, 9>& record);

    static constexpr double kSettleSeconds = 1.0;  // beyond any reply that is merely slow

private:
    void Receive(std::span<const std::uint8_t> data);
    void Expect(dc::Reply reply);
    double Elapsed() const { return clock_.Now() - started_; }
    void RunWhileWaiting() {
        if (whileWaiting_)
            std::exchange(whileWaiting_, nullptr)();
    }

    Port& port_;
    const Clock& clock_;
    EventPump& pump_;
    std::function<void()> whileWaiting_;
    bool stopped_ = false;
    int repeatedSinceSettled_ = 0;

    // The reply being collected.
    std::optional<dc::Reply> expected_;
    std::array<std::uint8_t, 130> reply_{};
    int received_ = 0;
    bool complete_ = false;
    bool refused_ = false;
    double started_ = 0.0;
};

// The 9-byte clock record for a date "mm/dd/yy" and a time "hh:mm:ss": BCD fields, the hour in 12-hour form
// with bit 7 for the afternoon, the caller's value, 0, and the sum of the first eight bytes modulo 256.
std::array<std::uint8_t, 9> BuildClockRecord(const QString& date, const QString& time, std::uint8_t value);
// The record for a moment of the PC's clock.
std::array<std::uint8_t, 9> ClockRecordFor(const QDateTime& when);
