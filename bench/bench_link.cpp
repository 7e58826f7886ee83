// The link's waits: a time-out on the virtual clock costs nothing, a real wait costs no processor time and
// ends within a few milliseconds of its deadline.
#include <sys/resource.h>
#include <QCoreApplication>
#include <chrono>
#include <cstdio>

#include "link/device_link.h"
#include "link/qt_event_pump.h"
#include "support/clock.h"
#include "tools/dcsim/simulated_link.h"

namespace {

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);

    {  // twelve 2-second time-outs of an identification nobody answers, on the virtual clock
        VirtualClock clock;
        DcConfig silent;
        silent.faults.silentFromFrame = 1;
        SimulatedLink sim(clock, silent);
        const StopRequest stop;
        DeviceLink link(sim.Serial(), clock, sim.Pump(), stop);
        const auto start = std::chrono::steady_clock::now();
        link.Identify();
        std::printf("silent identification: %.1f s of virtual time in %.3f ms real, %zu requests\n",
                    clock.Now(), Since(start) * 1e3, sim.Sent().size());
    }

    {  // a profile's worth of block reads (128 blocks), on the virtual clock
        VirtualClock clock;
        SimulatedLink sim(clock);
        const StopRequest stop;
        DeviceLink link(sim.Serial(), clock, sim.Pump(), stop);
        const auto start = std::chrono::steady_clock::now();
        for (int unit = 256; unit < 256 + 128 * 8; unit += 8)
            link.ReadBlock(unit);
        std::printf("128 block reads: %.3f s virtual, %.3f ms real\n", clock.Now(), Since(start) * 1e3);
    }

    {  // real waits in the Qt event loop with nothing arriving
        SystemClock clock;
        QtEventPump pump(clock);
        for (double wait : {0.2, 1.0}) {
            const double cpu = CpuSeconds();
            const double start = clock.Now();
            while (clock.Now() - start <= wait)
                pump.YieldUntil(start + wait);
            const double overshoot = clock.Now() - start - wait;
            std::printf("event-loop wait of %.1f s: ended %.2f ms after its deadline, %.1f ms of CPU\n", wait,
                        overshoot * 1e3, (CpuSeconds() - cpu) * 1e3);
        }
        const double cpu = CpuSeconds();
        const double start = clock.Now();
        pump.SleepUntil(start + 1.0);
        std::printf("sleep of 1.0 s: ended %.2f ms after its deadline, %.1f ms of CPU\n",
                    (clock.Now() - start - 1.0) * 1e3, (CpuSeconds() - cpu) * 1e3);
    }
    return 0;
}
