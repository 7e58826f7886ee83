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
#include "support/stop_request.h"

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

    DeviceLink(Port& port, const Clock& clock, EventPump& pump, const StopRequest& stop);
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    // Sends `frame`, the 0x00 that ends every frame included, and waits as the transaction says. While a stop
    // is asked the transaction in flight ends with its reply or its time-out, nothing is sent again, and no
    // stoppable transaction starts.
    Result Run(const dc::Transaction& transaction, std::span<const std::uint8_t> frame);

    void WaitSeconds(double seconds);  // lets time pass without handling any received data

    // Bytes so far that belonged to no reply: a stray byte before an acknowledgement or a block, or bytes
    // that came unasked. On such a line a reply may look whole and be shifted by a byte, so a caller that
    // keeps what it read, or relies on what it wrote, checks it when this changed meanwhile.
    int LineNoise() const { return noise_; }

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

    // A send given up on for want of an answer may still be answered this long after it went: the longest
    // time-out and 0.4 s more. Until then the next command waits, so that no late reply passes for its own.
    // Refusals and answers in time leave nothing on the way, and cost nothing.
    static constexpr double kLateReplySeconds = 2.4;

private:
    void Receive(std::span<const std::uint8_t> data);
    // The send of `sentAt` went unanswered: its reply may yet come.
    void GaveUpOn(double sentAt);
    // Lets every reply that may still be on its way come, taking it for nothing, then clears the line.
    void SettleIfAnswerMayCome();
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
    const StopRequest& stop_;
    bool lateReplyMayCome_ = false;
    int noise_ = 0;
    double quietAt_ = 0.0;  // no reply to an earlier send can come after this time

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
