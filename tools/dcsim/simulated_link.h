#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <utility>
#include <vector>

#include "link/event_pump.h"
#include "link/port.h"
#include "support/clock.h"
#include "tools/dcsim/dc_model.h"

class SimulatedLink;

// The PC's end of the cable: every transmission and every discard is recorded with its virtual time.
class SimulatedPort final : public Port {
public:
    explicit SimulatedPort(SimulatedLink& link) : link_(link) {}
    void Discard() override;
    void Transmit(std::span<const std::uint8_t> bytes) override;

    // The cable pulled: what is sent goes nowhere and is not recorded, what was on its way is lost.
    void Unplug() { plugged_ = false; }
    void Plug() { plugged_ = true; }
    bool Plugged() const { return plugged_; }
    // Called before each transmission with the number it will have in Sent(), counted from 1: a test's hook
    // for a fault that starts at a given frame.
    std::function<void(std::size_t frame)> BeforeTransmit;

    const std::vector<std::vector<std::uint8_t>>& Sent() const { return sent_; }
    const std::vector<double>& SentTimes() const { return sentTimes_; }
    const std::vector<double>& DiscardTimes() const { return discardTimes_; }
    int DiscardCount() const { return static_cast<int>(discardTimes_.size()); }
    void ClearRecord();

private:
    SimulatedLink& link_;
    std::vector<std::vector<std::uint8_t>> sent_;
    std::vector<double> sentTimes_;
    std::vector<double> discardTimes_;
    bool plugged_ = true;
};

// Virtual time: a pass jumps to the next delivery, or just past the deadline when none is due by then.
class SimulatedPump final : public EventPump {
public:
    explicit SimulatedPump(SimulatedLink& link) : link_(link) {}
    // Delivers at most one due piece (or runs one scheduled action) and returns; with nothing due by the
    // deadline, returns at max(now, deadline) + 0.001, so a time-out "elapsed > t" always fires.
    void YieldUntil(double deadline) override;
    // Time passes to max(now, deadline) + 0.001; what falls due meanwhile waits for a later YieldUntil.
    void SleepUntil(double deadline) override;
    int Passes() const { return passes_; }  // YieldUntil calls so far

private:
    SimulatedLink& link_;
    int passes_ = 0;
};

// A DC on the end of a cable, in virtual time. A reply reaches the PC at the transmission's time + latency
// (+ extra latency) + with throttling the wire time of the frame and of the reply. A transmission that the
// device cannot hear (restarting, silent) is still recorded but gets no reply.
class SimulatedLink {
public:
    explicit SimulatedLink(VirtualClock& clock, DcConfig config = {});
    SimulatedLink(const SimulatedLink&) = delete;
    SimulatedLink& operator=(const SimulatedLink&) = delete;

    SimulatedPort& Serial() { return port_; }
    SimulatedPump& Pump() { return pump_; }
    DcModel& Device() { return model_; }
    VirtualClock& Time() { return clock_; }

    // Shorthands for the port's record.
    const std::vector<std::vector<std::uint8_t>>& Sent() const { return port_.Sent(); }
    const std::vector<double>& SentTimes() const { return port_.SentTimes(); }
    int DiscardCount() const { return port_.DiscardCount(); }

    struct Delivery {
        double time;
        std::vector<std::uint8_t> bytes;
    };
    const std::vector<Delivery>& Delivered() const { return delivered_; }  // what OnData received, when

    // A test action (a click, a cable pulled) run by YieldUntil at virtual time t, like a delivery.
    void ScheduleAt(double t, std::function<void()> action);
    // Bytes that arrive at t unasked.
    void InjectAt(double t, std::vector<std::uint8_t> bytes);
    // Another DC clipped on: the one before is gone, with whatever it was still sending.
    void SwapDevice(DcConfig config);
    // A noisy line from now on, until the device's chatter fault is switched off.
    void StartChatter();
    std::size_t Pending() const;  // pieces and actions still queued, chatter not counted

private:
    friend class SimulatedPort;
    friend class SimulatedPump;
    struct Event {
        std::vector<std::uint8_t> bytes;
        std::function<void()> action;
        bool chatter = false;
    };
    using Key = std::pair<double, std::uint64_t>;

    void Transmitted(std::span<const std::uint8_t> bytes);
    void Discarded();
    bool RunDue(double limit);
    void Queue(double t, Event event);

    VirtualClock& clock_;
    DcModel model_;
    SimulatedPort port_;
    SimulatedPump pump_;
    std::map<Key, Event> events_;
    std::uint64_t sequence_ = 0;
    double outLineFree_ = 0.0;  // when the PC's last byte has reached the device
    double inLineFree_ = 0.0;   // when the device's last byte has reached the PC
    std::uint32_t chatterState_;
    std::vector<Delivery> delivered_;
};
