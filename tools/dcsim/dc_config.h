#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Which half of a two-step write a refusal is aimed at.
enum class DcPhase { Command, Data };

struct DcRefusal {
    std::uint8_t command = 0;  // the command byte; a data phase belongs to the command that opened it
    DcPhase phase = DcPhase::Command;
    int count = 1;  // refusals left
    int unit = -1;  // only the command or data phase addressed to this unit (-1 = any)
};

// Misbehaviour on demand. Frames are numbered from 1 in the order the device hears them; every transmission
// counts, also one dropped while the device restarts (in-process, frame n is Sent()[n - 1]).
struct DcFaults {
    int silentFromFrame = 0;          // power loss: from this frame on nothing is heard (0 = never)
    int silenceStartFrame = 0;        // these frames are lost on the line: silenceStartFrame ..
    int silenceFrameCount = 0;        //   .. silenceStartFrame + silenceFrameCount - 1
    std::vector<DcRefusal> refusals;  // answered 0xA5 instead of being carried out
    std::vector<int> splitSizes;      // every reply arrives cut into pieces of these sizes, the rest in one
    std::optional<std::uint8_t> strayByte;  // arrives on its own just before a reply ...
    std::uint8_t strayBefore = 0;           // ... to this command (0 = before every reply)
    double extraLatency = 0.0;              // seconds added to replies ...
    std::uint8_t extraLatencyCommand = 0;   // ... to this command (0 = every reply)
    int lateFrame = 0;                      // the reply to this frame comes ...
    double lateBy = 0.0;                    // ... this much later, after its sender gave up on it
    bool chatter = false;                   // a noisy line: a byte every chatterInterval, unasked
    double chatterInterval = 0.005;
};

// One simulated DC. Another model, an older or newer version and a different sub-version are plain values
// here.
struct DcConfig {
    std::string idText = "KAV1F V1A 0512KB";  // 16 characters; the version is the end of the second word
    std::uint8_t subVersion = 3;
    int memoryCode = 512;       // 512 or 1024: memory is memoryCode x 8 units of 16 bytes
    int serialNumber = 210417;  // six decimal digits
    int profileStart = 256;     // first and last unit of the profile in the ring 256 .. memoryCode x 8 - 33
    int profileEnd = 1279;
    std::uint32_t seed = 1;                  // the filler data follows from it
    std::string versionAfterUpdate = "1B";   // reported once a first image was installed
    std::string idTextAfterUpdate;           // when set, the whole identification after a first image
    std::uint8_t subVersionAfterUpdate = 4;  // reported once a second image was installed
    double restartSeconds = 8.0;
    double latency = 0.004;  // seconds from a frame's arrival to the start of its reply
    bool throttle = false;   // 38400 baud 8N1, both directions
    bool deepSleep = false;  // starts in Deep Sleep, as page 1 of the wizard leaves it
    // How 0xB2 reads its unit: absolute, as the header record at unit 4 assumes, or relative to the profile
    // ring like 0xB5 (unit + 256), as the record-wise retry of a profile block assumes.
    bool relativeRecords = false;
    DcFaults faults;
};

inline constexpr double kWireSecondsPerByte = 10.0 / 38400.0;

// When the reply to the frame numbered `frame` that reached the device at `arrival` starts on the line.
inline double ReplyStart(const DcConfig& config, std::uint8_t command, int frame, double arrival) {
    const DcFaults& f = config.faults;
    double t = arrival + config.latency;
    if (f.extraLatencyCommand == 0 || f.extraLatencyCommand == command)
        t += f.extraLatency;
    if (frame == f.lateFrame)
        t += f.lateBy;
    return t;
}
