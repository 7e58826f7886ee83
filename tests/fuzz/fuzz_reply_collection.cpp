// libFuzzer target: each command routine of the link, with arbitrary bytes arriving in arbitrary pieces at
// arbitrary moments. Input: the routine and its argument, then per pass of the routine's wait one control
// byte (bit 7: nothing arrives before the deadline; else bits 0..5 the length of the piece that arrives, bit
// 6: halfway to the deadline) followed by the piece. A routine must end within its resend limits, without
// touching memory outside the buffers.
#include <algorithm>
#include <cstdlib>

#include "link/comm_module.h"

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

struct Input {
    const std::uint8_t* data;
    std::size_t size, at = 0;
    std::uint8_t Next() { return at < size ? data[at++] : 0x80; }
};

class CountingPort final : public Port {
public:
    void Discard() override {}
    void Transmit(std::span<const std::uint8_t>) override { ++sent; }
    int sent = 0;
};

class ScriptedPump final : public EventPump {
public:
    ScriptedPump(VirtualClock& clock, CountingPort& port, Input& in) : clock_(clock), port_(port), in_(in) {}
    void YieldUntil(double deadline) override {
        const std::uint8_t control = in_.Next();
        if (control & 0x80)
            return SleepUntil(deadline);
        if (control & 0x40)
            clock_.AdvanceTo((clock_.Now() + deadline) / 2);
        const std::size_t n = std::min<std::size_t>(control & 0x3F, in_.size - in_.at);
        clock_.Advance(0.0001);
        port_.OnData(std::span(in_.data + in_.at, n));
        in_.at += n;
    }
    void SleepUntil(double deadline) override { clock_.AdvanceTo(std::max(clock_.Now(), deadline) + 0.001); }

private:
    VirtualClock& clock_;
    CountingPort& port_;
    Input& in_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in{data, size};
    const std::uint8_t routine = in.Next();
    const int argument = in.Next() * 256 + in.Next() - 256;  // a few below 0, most valid units
    LinkState link;                                          // buffers of the smallest size allowed
    bool aborted = false;
    const bool enterDeepSleep = routine & 0x10;
    QString id;
    VirtualClock clock;
    CountingPort port;
    ScriptedPump pump(clock, port, in);
    CommModule comm(link, aborted, enterDeepSleep, id, port, clock, pump);
    switch (routine % 9) {
        case 0:
            Require(!comm.ReadDeviceId() || id.size() == 16);
            break;
        case 1:
            Require(comm.SetDeepSleep() != aborted);
            break;
        case 2:
            comm.ReadDeviceStatus();
            break;
        case 3:
            comm.ReadBlocks(argument, argument + 8 * (routine >> 5));
            break;
        case 4:
            comm.WriteBlock(argument, routine & 0x20 ? CommModule::kWriteBlock2 : CommModule::kWriteBlock);
            break;
        case 5:
            comm.SendValueCommand(CommModule::kCloseImage, argument * 4);
            break;
        case 6:
            comm.SendValueCommandB8(argument);
            break;
        case 7:
            comm.WriteRecord(argument);
            break;
        case 8:
            comm.SetDeviceClock(QStringLiteral("12/31/99"), QStringLiteral("23:59:58"),
                                CommModule::kClockValue);
            break;
    }
    Require(link.ReceivedCount >= 0);                  // the overwrite rule counts on past the buffer's end
    Require(port.sent <= 100 && clock.Now() < 100.0);  // the longest routine gives up well within these
    return 0;
}
