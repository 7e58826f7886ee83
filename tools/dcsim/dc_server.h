#pragma once

#include <cstdint>
#include <cstdio>
#include <limits>
#include <map>
#include <vector>

#include "tools/dcsim/dc_model.h"
#include "tools/dcsim/replay_script.h"

// Serves a DcModel in real time on a file descriptor (the pseudo-terminal's master side). A transmission is
// what arrives together: bytes are collected until the frame the device expects is complete, and a pause of
// more than kGap ends a frame the device cannot measure (or a broken one). A reply is written whole when its
// last byte would reach the PC: the process sleeps to an absolute deadline on the monotonic clock just before
// that and waits out the last fraction of a millisecond, so the modelled latency and wire time cost next to
// nothing on top.
//
// The wire log has one line per frame heard, "I <time> <bytes> <first byte, hex>", and one per piece written,
// "O <written> <bytes> <due> <began>": the write returned, the model's time for the piece, the write began.
// Times are seconds on the monotonic clock.
class DcServer {
public:
    static constexpr double kGap = 0.050;

    struct Options {
        bool verbose = false;          // frames on standard error, for a person
        std::FILE* wireLog = nullptr;  // the wire log, for the benchmarks
        // A recorded run to answer from instead of the model. At the first frame that differs, the
        // difference goes to standard error and the serving ends; lenient: the model answers from there on.
        ReplayScript* replay = nullptr;
        bool lenient = false;
    };

    DcServer(DcConfig config, int fd, Options options);
    ~DcServer();
    DcServer(const DcServer&) = delete;
    DcServer& operator=(const DcServer&) = delete;

    // Serves until stopFd becomes readable (a signal), or inputFd (-1: none) reaches its end.
    void Run(int stopFd, int inputFd);

    static double Now();  // seconds on the monotonic clock
    const DcModel& Model() const { return model_; }
    bool Differed() const { return differed_; }  // a replay heard a frame other than the recorded one

private:
    static constexpr double kNever = std::numeric_limits<double>::infinity();

    void ReadAvailable(double now);
    void TakeCompleteFrames(double now);
    void Process(std::vector<std::uint8_t> frame, double now);
    void RunDue(double now);
    void Arm();
    void Write(const std::vector<std::uint8_t>& bytes, double due);
    bool Replayed(const std::vector<std::uint8_t>& frame, double now);

    DcModel model_;
    int fd_;
    Options options_;
    int timer_ = -1;
    double armed_ = kNever;
    double started_;
    std::multimap<double, std::vector<std::uint8_t>> outgoing_;  // by the time each piece is due
    std::vector<std::uint8_t> pending_;
    double gapEnds_ = kNever;
    double nextChatter_ = kNever;
    double lineFree_ = 0.0;  // when the last scheduled reply byte has left
    std::uint32_t chatterState_;
    bool replaying_ = false;
    bool differed_ = false;
};
