// libFuzzer target: each command routine of the link, with arbitrary bytes arriving in arbitrary pieces at
// arbitrary moments. Input: the routine and its argument, then per pass of the routine's wait one control
// byte (bit 7: nothing arrives before the deadline; else bits 0..5 the length of the piece that arrives, bit
// 6: halfway to the deadline) followed by the piece. A routine must end within its resend limits, without
// touching memory outside the buffers.
#include <algorithm>
#include <cstdlib>
#include <functional>

#include "link/device_link.h"

namespace {

// The cable and the event loop in one: each pass of a wait takes the next piece of the input.
class ScriptedLine final : public Port, public EventPump {
public:
    ScriptedLine(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t Next() { return at_ < size_ ? data_[at_++] : 0x80; }
    void Discard() override {}
    void Transmit(std::span<const std::uint8_t>) override { ++sent; }
    void YieldUntil(double deadline) override {
        const std::uint8_t control = Next();
        if (control & 0x80)
            return SleepUntil(deadline);
        if (control & 0x40)
            clock.AdvanceTo((clock.Now() + deadline) / 2);
        const std::size_t n = std::min<std::size_t>(control & 0x3F, size_ - at_);
        clock.Advance(0.0001);
        OnData(std::span(data_ + at_, n));
        at_ += n;
    }
    void SleepUntil(double deadline) override { clock.AdvanceTo(std::max(clock.Now(), deadline) + 0.001); }

    VirtualClock clock;
    int sent = 0;

private:
    const std::uint8_t* data_;
    std::size_t size_, at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ScriptedLine line(data, size);
    const std::uint8_t routine = line.Next();
    const int argument = line.Next() * 256 + line.Next() - 256;  // a few below 0, most valid units
    const StopRequest stop;
    DeviceLink link(line, line.clock, line, stop);
    const DeviceLink::BlockFrame block{};
    const DeviceLink::RecordFrame record{};
    const std::function<bool()> routines[] = {
        [&] { return link.Identify().value_or(QString(16, u' ')).size() == 16; },
        [&] { return routine & 0x10 ? link.EnterDeepSleep(), true : (link.LeaveDeepSleep(), true); },
        [&] { return link.ReadStatus(), true; },
        [&] { return link.ReadBlock(argument), true; },
        [&] {
            return link.WriteBlock(argument, routine & 0x20 ? dc::WriteBlock2 : dc::WriteBlock, block), true;
        },
        [&] { return link.SendValue(dc::CloseImage, argument * 4), true; },
        [&] { return link.SendValue(dc::Image2Parameter, argument), true; },
        [&] { return link.WriteRecord(argument, record), true; },
        [&] { return link.SetClock(BuildClockRecord("12/31/99", "23:59:58", dc::kClockValue)), true; },
    };
    const bool ok = routines[routine % 9]();
    // The longest routine gives up well within the bounds.
    if (!ok || line.sent > 100 || line.clock.Now() > 100.0)
        std::abort();
    return 0;
}
