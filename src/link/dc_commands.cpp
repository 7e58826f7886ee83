// The DC's commands, each one or two transactions of the command set.
#include <QScopeGuard>
#include <algorithm>

#include "link/device_link.h"
#include "support/ansi_text.h"

namespace {

using Outcome = DeviceLink::Outcome;

bool IsUnit(int unit) {
    return unit >= 0 && unit <= dc::kLastUnit;
}

std::array<std::uint8_t, 4> Addressed(std::uint8_t command, int word) {
    return {command, static_cast<std::uint8_t>(word / 256), static_cast<std::uint8_t>(word % 256),
            dc::kFrameEnd};
}

}  // namespace

std::optional<QString> DeviceLink::Identify() {
    const std::uint8_t frame[] = {dc::Identify, dc::kFrameEnd};
    const Result r = Run(dc::kIdentifyDc, frame);
    if (!r.Acknowledged())
        return std::nullopt;
    // The firmware file's model id and version are read in this code page too, so they compare alike.
    return FromAnsi(r.reply.subspan(1, 16));
}

bool DeviceLink::EnterDeepSleep() {
    const std::uint8_t frame[] = {dc::DeepSleep, dc::kEnter, dc::kFrameEnd};
    return Run(dc::kEnterDeepSleep, frame).Acknowledged();
}

bool DeviceLink::LeaveDeepSleep() {
    const std::uint8_t frame[] = {dc::DeepSleep, dc::kLeave, dc::kFrameEnd};
    return Run(dc::kLeaveDeepSleep, frame).Acknowledged();
}

std::optional<std::uint8_t> DeviceLink::ReadStatus() {
    const std::uint8_t frame[] = {dc::Status, dc::kFrameEnd};
    const Result r = Run(dc::kReadStatus, frame);
    if (!r.Acknowledged())
        return std::nullopt;
    return r.reply[1];
}

std::optional<DeviceLink::Block> DeviceLink::ReadBlock(int unit) {
    const auto leftover = qScopeGuard([this] { RunWhileWaiting(); });
    if (!IsUnit(unit))
        return std::nullopt;  // cannot go on the wire
    const Result r = Run(dc::kReadBlock, Addressed(dc::ReadBlock, unit));
    if (!r.Acknowledged())
        return std::nullopt;
    Block block;
    std::copy_n(r.reply.begin() + 1, block.size(), block.begin());
    return block;
}

bool DeviceLink::WriteBlock(int unit, dc::Code command, const BlockFrame& data) {
    const auto leftover = qScopeGuard([this] { RunWhileWaiting(); });
    if (!IsUnit(unit))
        return false;
    for (int tries = 1;; ++tries) {  // the address, then the data
        if (!Run(dc::kBlockAddress, Addressed(command, unit)).Acknowledged())
            return false;
        if (Run(dc::kBlockData, data).Acknowledged())
            return true;
        if (tries == dc::kBlockTries || stop_.Asked())
            return false;
    }
}

bool DeviceLink::SendValue(dc::Code command, std::int32_t value) {
    if (value < 0 || value > 0xFFFF)
        return false;  // a closing command that was never sent is no success
    return Run(dc::kValue, Addressed(command, value)).Acknowledged();
}

DeviceLink::RecordWrite DeviceLink::WriteRecord(int unit, const RecordFrame& record) {
    if (!IsUnit(unit))
        return RecordWrite::Skipped;
    const Result address = Run(dc::kRecordAddress, Addressed(dc::RecordAddress, unit));
    if (address.outcome == Outcome::Stopped || (!address.Acknowledged() && stop_.Asked()))
        return RecordWrite::Failed;  // not skipped by the DC: never sent, or left unanswered
    if (!address.Acknowledged())
        return RecordWrite::Skipped;
    // The DC now waits for 17 bytes: whatever came next would be taken for them, a stop's finish too.
    return Run(dc::kRecordData, record).Acknowledged() ? RecordWrite::Taken : RecordWrite::Failed;
}

bool DeviceLink::SetClock(const std::array<std::uint8_t, 9>& record) {
    const std::uint8_t start[] = {dc::SetClock, dc::kFrameEnd};
    if (!Run(dc::kClockStart, start).Acknowledged())
        return false;
    std::array<std::uint8_t, 10> frame{};
    std::copy(record.begin(), record.end(), frame.begin());
    return Run(dc::kClockRecord, frame).outcome != Outcome::TimedOut;
}
