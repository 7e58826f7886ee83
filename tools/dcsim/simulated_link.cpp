#include "tools/dcsim/simulated_link.h"

#include <algorithm>

namespace {

// Beyond the pass granularity a test cares about, small enough not to stretch any time-out noticeably.
constexpr double kPastDeadline = 0.001;

}  // namespace

void SimulatedPort::Discard() {
    discardTimes_.push_back(link_.clock_.Now());
    link_.Discarded();
}

void SimulatedPort::Transmit(std::span<const std::uint8_t> bytes) {
    if (BeforeTransmit)
        BeforeTransmit(sent_.size() + 1);
    if (!plugged_)
        return;
    sent_.emplace_back(bytes.begin(), bytes.end());
    sentTimes_.push_back(link_.clock_.Now());
    link_.Transmitted(bytes);
}

void SimulatedPort::ClearRecord() {
    sent_.clear();
    sentTimes_.clear();
    discardTimes_.clear();
}

void SimulatedPump::YieldUntil(double deadline) {
    ++passes_;
    const double limit = std::max(link_.clock_.Now(), deadline);
    if (!link_.RunDue(limit))
        link_.clock_.AdvanceTo(limit + kPastDeadline);
}

void SimulatedPump::SleepUntil(double deadline) {
    link_.clock_.AdvanceTo(std::max(link_.clock_.Now(), deadline) + kPastDeadline);
}

SimulatedLink::SimulatedLink(VirtualClock& clock, DcConfig config)
    : clock_(clock),
      model_(std::move(config)),
      port_(*this),
      pump_(*this),
      chatterState_(model_.Config().seed) {
    if (model_.Config().faults.chatter)
        StartChatter();
}

void SimulatedLink::SwapDevice(DcConfig config) {
    model_ = DcModel(std::move(config));
    std::erase_if(events_, [](const auto& e) { return !e.second.action && !e.second.chatter; });
}

void SimulatedLink::StartChatter() {
    model_.Faults().chatter = true;
    Queue(clock_.Now() + model_.Config().faults.chatterInterval, Event{{}, {}, true});
}

void SimulatedLink::Queue(double t, Event event) {
    events_.emplace(Key{t, sequence_++}, std::move(event));
}

void SimulatedLink::ScheduleAt(double t, std::function<void()> action) {
    Queue(t, Event{{}, std::move(action), false});
}

void SimulatedLink::InjectAt(double t, std::vector<std::uint8_t> bytes) {
    Queue(t, Event{std::move(bytes), {}, false});
}

std::size_t SimulatedLink::Pending() const {
    return static_cast<std::size_t>(
        std::count_if(events_.begin(), events_.end(), [](const auto& e) { return !e.second.chatter; }));
}

void SimulatedLink::Transmitted(std::span<const std::uint8_t> bytes) {
    const DcConfig& config = model_.Config();
    const double now = clock_.Now();
    double arrival = now;
    if (config.throttle) {
        outLineFree_ = std::max(now, outLineFree_) + static_cast<double>(bytes.size()) * kWireSecondsPerByte;
        arrival = outLineFree_;
    }
    const auto reply = model_.Receive(bytes, arrival);
    if (reply.empty())
        return;
    const DcFaults& f = config.faults;
    const std::uint8_t command = model_.LastCommand();
    double t = ReplyStart(config, command, model_.FrameCount(), arrival);
    for (auto& piece : ReplyPieces(reply, command, f)) {
        if (config.throttle) {
            inLineFree_ = std::max(t, inLineFree_) + static_cast<double>(piece.size()) * kWireSecondsPerByte;
            t = inLineFree_;
        }
        Queue(t, Event{std::move(piece), {}, false});
    }
}

// Bytes that have arrived but were not handed over yet are gone; those still on the line are not.
void SimulatedLink::Discarded() {
    const double now = clock_.Now();
    std::erase_if(events_, [now](const auto& e) {
        return e.first.first <= now && !e.second.action && !e.second.chatter;
    });
}

bool SimulatedLink::RunDue(double limit) {
    if (events_.empty() || events_.begin()->first.first > limit)
        return false;
    auto node = events_.extract(events_.begin());
    clock_.AdvanceTo(node.key().first);
    Event& event = node.mapped();
    if (event.action) {
        event.action();
        return true;
    }
    if (event.chatter) {
        if (!model_.Config().faults.chatter)
            return true;  // the line is quiet again
        chatterState_ = chatterState_ * 1664525u + 1013904223u;
        event.bytes = {static_cast<std::uint8_t>(chatterState_ >> 24)};
        Queue(clock_.Now() + model_.Config().faults.chatterInterval, Event{{}, {}, true});
    }
    if (!port_.Plugged())
        return true;  // the cable is out: lost
    delivered_.push_back({clock_.Now(), event.bytes});
    if (port_.OnData)
        port_.OnData(event.bytes);
    return true;
}
