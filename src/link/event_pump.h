#pragma once

// "Yield to the message loop once", bounded by the next deadline (seconds on the monotonic clock): returns
// when an event (received bytes, a click) has been delivered or the deadline has passed, whichever comes
// first.
class EventPump {
public:
    virtual ~EventPump() = default;
    virtual void YieldUntil(double deadline) = 0;
    // Lets time pass until the deadline without delivering anything: data that arrives meanwhile is delivered
    // by a later YieldUntil.
    virtual void SleepUntil(double deadline) = 0;
};
