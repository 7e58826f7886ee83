// What --trace costs: the blocks of a full image written on the virtual clock, with the port as it is and
// with every byte going through the trace into a log file. The virtual clock leaves only the processor's
// work.
#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

#include "link/device_link.h"
#include "link/tracing_port.h"
#include "support/clock.h"
#include "support/run_log.h"
#include "tools/dcsim/simulated_link.h"

namespace {

// Milliseconds of real time for `blocks` block writes; traced into `log` when it is given. *frames counts the
// transmissions the DC heard.
double Upload(int blocks, RunLog* log, std::size_t* frames) {
    VirtualClock clock;
    SimulatedLink sim(clock);
    std::unique_ptr<TracingPort> tracer = log ? std::make_unique<TracingPort>(sim.Serial(), *log) : nullptr;
    Port& port = tracer ? static_cast<Port&>(*tracer) : sim.Serial();
    const StopRequest stop;
    DeviceLink link(port, clock, sim.Pump(), stop);
    link.EnterDeepSleep();  // the DC takes image blocks in Deep Sleep only
    const auto start = std::chrono::steady_clock::now();
    bool aborted = false;
    for (int i = 0; i < blocks && !aborted; ++i) {
        DeviceLink::BlockFrame data{};
        std::fill(data.begin(), data.end() - 1, std::uint8_t(i));  // the frame's end stays 0x00
        aborted = !link.WriteBlock(2048 + i * 8 % 4096, dc::WriteBlock, data);
    }
    if (log)
        log->Flush();
    *frames = aborted ? 0 : sim.Sent().size();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    SystemClock clock;
    constexpr int kBlocks = 1024;
    constexpr int kRounds = 5;
    double plain = 0.0, traced = 0.0;
    std::size_t frames = 0;
    for (int round = 0; round < kRounds; ++round) {
        plain += Upload(kBlocks, nullptr, &frames);
        RunLog log(clock);
        log.Open(dir.filePath(QStringLiteral("trace.log")), nullptr);
        log.WriteWireAtOnce(true);
        traced += Upload(kBlocks, &log, &frames);
    }
    std::printf(
        "%d block writes (%zu frames), virtual clock: %.1f ms plain, %.1f ms traced into the log (mean of "
        "%d); "
        "the same upload takes about %.0f s on the wire\n",
        kBlocks, frames, plain / kRounds, traced / kRounds, kRounds, kBlocks * 134 * kWireSecondsPerByte);
    return 0;
}
