#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

#include "link/device_link.h"
#include "support/clock.h"
#include "tools/dcsim/simulated_link.h"

using Bytes = std::vector<std::uint8_t>;

// A DC as page 1 leaves it: in Deep Sleep, where it takes memory writes.
inline DcConfig Asleep(DcConfig dc) {
    dc.deepSleep = true;
    return dc;
}

// The link to the in-process simulated DC on a virtual clock.
struct LinkFixture {
    explicit LinkFixture(DcConfig config = {}) : sim(clock, Asleep(std::move(config))) {}
    const std::vector<Bytes>& Sent() const { return sim.Sent(); }

    VirtualClock clock;
    SimulatedLink sim;
    StopRequest stop;
    DeviceLink link{sim.Serial(), clock, sim.Pump(), stop};
};

// A DC of the default kind, or the one given, with the faults `set` gives it.
template <typename Set>
DcConfig WithFaults(Set set, DcConfig dc = {}) {
    set(dc.faults);
    return dc;
}

inline DcConfig SilentDc() {
    return WithFaults([](DcFaults& x) { x.silentFromFrame = 1; });
}
