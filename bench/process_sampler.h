#pragma once

#include <QString>
#include <utility>
#include <vector>

struct CpuShare {
    double cpu = 0.0;   // seconds of processor time
    double wall = 0.0;  // seconds of wall time they were measured over
    double Percent() const { return wall > 0.0 ? 100.0 * cpu / wall : 0.0; }
};

// The processor time of another process (all its threads), sampled with the monotonic clock's time.
class ProcessSampler {
public:
    void Attach(long long pid) { pid_ = pid; }
    void Sample();
    // Over the samples inside each interval, `margin` seconds in from its ends.
    CpuShare Share(const std::vector<std::pair<double, double>>& intervals, double margin) const;

private:
    long long pid_ = 0;
    std::vector<std::pair<double, double>> samples_;  // time, processor seconds
};

// How busy the whole machine is: the load average and the processor time of all cores.
struct MachineLoad {
    QString average;  // the 1-minute load average
    double busy = 0.0;
    double total = 0.0;
    static MachineLoad Now();
    double BusyPercentUntil(const MachineLoad& later) const;
};
