#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tools/dcsim/dc_config.h"

// The clock record as the device keeps it after a 0x97 write.
struct DcClockRecord {
    int year = 0;  // within the century
    int month = 0;
    int day = 0;
    int hour = 0;  // 0..23, decoded from hourByte
    int minute = 0;
    int second = 0;
    std::uint8_t hourByte = 0;  // bit 7 = afternoon, low bits the 12-hour hour in BCD, 12 o'clock 0x92
    std::uint8_t value = 0;     // byte 6, the caller's
};

// The device logic, without any notion of how bytes travel: one transmission in, the reply out.
//
// Frames (each ends with the 0x00 the sender appends; anything else is no frame and gets no reply):
//   84 00            -> 5A, the 16 identification characters, their sum mod 256
//   A8 55|99 00      -> 5A (enter | leave Deep Sleep)
//   BA 00            -> 5A, sub-version
//   B4 hi lo 00      -> 5A, the 128 bytes at unit hi:lo (absolute; 0xFF beyond the memory)
//   B5|B7 hi lo 00   -> 5A, then the data phase: 128 bytes, check byte, 00 -> 5A. B5 writes the profile
//                       area: unit + 256, so a block read at unit u is written back at u - 256. B7 writes a
//                       separate second-image store. Image blocks carry the firmware file's check byte and
//                       are taken as they come: B7 blocks, and B5 blocks in Deep Sleep until an image is
//                       closed. Any other B5 block is a profile block: A5 unless its check byte is the sum
//                       of its data mod 256.
//   B6 hi lo 00      -> 5A; closes the first image: the value must be the sum mod 65536 of the check bytes of
//                       the B5 blocks since the last close (a rewritten unit counts once).
//   B8 hi lo 00      -> 5A; the second image's parameter, kept.
//   B9 hi lo 00      -> 5A; closes the second image like B6 does the first, for the B7 blocks.
//   B2 hi lo 00      -> 5A, then 16 bytes, their sum mod 256, 00 -> 5A, or A5 for a wrong sum; the unit is
//                       absolute, or + 256 with relativeRecords.
//   97 00            -> 5A, then 8 bytes, their sum mod 256, 00 -> 5A, or A5 for a wrong sum.
// The image commands (B7, B6, B8, B9) are refused (A5) unless the device is in Deep Sleep: entered with
// A8 55 and not left with A8 99; the restart after an image keeps it. Profile blocks, records and the clock
// are taken in either state. This is the model's rule, not a known trait of a real DC.
// A data phase is recognised by its length alone; a frame of any other length ends it and is read as a
// command. A refused data phase (A5) may be sent again. After a close the device restarts: it hears nothing
// for restartSeconds. A matching first image brings versionAfterUpdate into the identification text, a
// matching second image subVersionAfterUpdate into the status byte; a mismatch restarts with the old values.
class DcModel {
public:
    explicit DcModel(DcConfig config = {});

    // One transmission that arrived (complete) at time now, in seconds; returns the reply, possibly empty.
    std::vector<std::uint8_t> Receive(std::span<const std::uint8_t> frame, double now);

    // For a receiver that gets bytes in dribs: the length of the frame the given bytes begin, as far as the
    // device can tell (0 = cannot tell: the frame ends with a pause).
    std::size_t ExpectedFrameLength(std::span<const std::uint8_t> head) const;

    const DcConfig& Config() const { return config_; }
    DcFaults& Faults() { return config_.faults; }  // a fault may start or end while the device runs
    int FrameCount() const { return frames_; }
    std::uint8_t LastCommand() const { return lastCommand_; }  // of the last frame that got a reply
    bool Restarting(double now) const { return now < restartUntil_; }

    std::string IdText() const { return idText_; }
    std::uint8_t SubVersion() const { return subVersion_; }
    bool DeepSleep() const { return deepSleep_; }
    const std::vector<std::uint8_t>& Memory() const { return memory_; }
    std::vector<std::uint8_t> Block(int unit) const;  // 128 bytes as B4 would return them
    const std::map<int, std::array<std::uint8_t, 128>>& SecondImage() const { return secondImage_; }
    std::optional<std::uint16_t> SecondImageParameter() const { return code2Parameter_; }
    std::optional<DcClockRecord> DeviceClock() const { return clock_; }
    int Installs() const { return installs_; }  // closes whose sum matched
    int RejectedInstalls() const { return rejected_; }
    // Acknowledged addresses whose data never came before another command, whose bytes a real DC might take
    // for the data.
    int DataPhasesCut() const { return dataPhasesCut_; }

private:
    enum class Phase { Idle, Block, Record, Clock };

    std::vector<std::uint8_t> Command(std::span<const std::uint8_t> frame, double now);
    std::vector<std::uint8_t> Data(std::span<const std::uint8_t> frame);
    bool Lost() const;
    bool Refused(std::uint8_t command, DcPhase phase, int unit);
    void Close(std::map<int, std::uint8_t>& checks, std::uint16_t value, bool firstImage, double now);
    void Fill();

    DcConfig config_;
    std::string idText_;
    std::uint8_t subVersion_;
    std::vector<std::uint8_t> memory_;
    std::map<int, std::uint8_t> firstChecks_;  // unit -> check byte, since the last close
    std::map<int, std::uint8_t> secondChecks_;
    std::map<int, std::array<std::uint8_t, 128>> secondImage_;
    std::optional<std::uint16_t> code2Parameter_;
    std::optional<DcClockRecord> clock_;
    Phase phase_ = Phase::Idle;
    std::uint8_t phaseCommand_ = 0;
    int phaseUnit_ = 0;
    bool dataHeard_ = false;  // since the address: a refused data phase may be sent again, or given up
    int frames_ = 0;
    std::uint8_t lastCommand_ = 0;
    double restartUntil_ = -1.0;
    bool deepSleep_ = false;
    bool imagePending_ = false;  // B5 blocks are image blocks: Deep Sleep entered, no image closed since
    int installs_ = 0;
    int rejected_ = 0;
    int dataPhasesCut_ = 0;
};

// The version characters of an identification text: the last two of its second word replaced.
std::string ReplaceVersion(std::string idText, std::string_view version);

// A reply as it reaches the wire under the faults: the stray byte first, then the pieces.
std::vector<std::vector<std::uint8_t>> ReplyPieces(const std::vector<std::uint8_t>& reply,
                                                   std::uint8_t command, const DcFaults& faults);
