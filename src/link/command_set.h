#pragma once

#include <cstdint>

// The DC's command set, one command and one reply at a time. A frame is the command byte and its arguments,
// or a block of data and its sum, and ends with 0x00. Wire bytes, resend counts and time-outs are what the DC
// relies on.
namespace dc {

// Command bytes.
enum Code : std::uint8_t {
    Identify = 0x84,         // -> 18 bytes: 1..16 the identification text
    DeepSleep = 0xA8,        // EnterDeepSleep or LeaveDeepSleep -> 5A
    Status = 0xBA,           // -> 2 bytes: the second is the firmware's sub-version
    ReadBlock = 0xB4,        // unit hi lo -> 5A and the 128 bytes from that unit
    WriteBlock = 0xB5,       // unit hi lo -> 5A, then 128 bytes and their sum -> 5A
    CloseImage = 0xB6,       // checksum hi lo -> 5A: the first image is complete
    WriteBlock2 = 0xB7,      // as WriteBlock, for the second image
    Image2Parameter = 0xB8,  // value hi lo -> 5A
    CloseImage2 = 0xB9,      // checksum hi lo -> 5A: the second image is complete
    RecordAddress = 0xB2,    // unit hi lo -> 5A, then 16 bytes and their sum -> 5A
    SetClock = 0x97,         // -> 5A, then the 9-byte clock record -> 5A
};

inline constexpr std::uint8_t kAck = 0x5A, kRefusal = 0xA5, kFrameEnd = 0x00;
inline constexpr std::uint8_t kEnter = 0x55, kLeave = 0x99;  // the DeepSleep argument
inline constexpr std::uint8_t kClockValue = 233;             // the clock record's seventh byte
inline constexpr int kBlockBytes = 128, kRecordBytes = 16, kUnitsPerBlock = 8, kLastUnit = 32767;

// How a reply is collected and when it is whole.
enum class Reply {
    Acknowledgement,       // 5A; each delivery is read from the start, so a stray byte before it does no harm
    WriteAcknowledgement,  // 5A, or A5 refused: either ends the wait
    StatusByte,            // two bytes
    Identification,        // 18 bytes
    Block,                 // 5A and 128 bytes
};

enum class Discards { BeforeEachSend, BeforeFirstSend, Never };

// One transaction: a frame sent up to `sends` times, each send waited for `timeout` seconds.
struct Transaction {
    Reply reply;
    double timeout;
    int sends;
    bool refusalResends;       // an A5 sends the frame again at once
    bool resendsAnsweredLate;  // a time-out sends again even when the answer came with it (the answer came:
                               // nothing of the first send is left on its way)
    Discards discards;         // where the line is cleared of what came before
    bool stoppable;            // a stop request holds it back
};

// clang-format off
//                                   reply                          timeout sends refusal late   discards                   stoppable
inline constexpr Transaction kIdentifyDc     {Reply::Identification,       2.0, 12, true,  false, Discards::BeforeEachSend,  true};
inline constexpr Transaction kEnterDeepSleep {Reply::Acknowledgement,      1.0,  5, true,  false, Discards::Never,           true};
inline constexpr Transaction kLeaveDeepSleep {Reply::Acknowledgement,      1.0,  5, true,  false, Discards::Never,           false};
inline constexpr Transaction kReadStatus     {Reply::StatusByte,           1.0, 12, true,  false, Discards::Never,           true};
inline constexpr Transaction kReadBlock      {Reply::Block,                0.2,  5, true,  false, Discards::BeforeEachSend,  true};
inline constexpr Transaction kBlockAddress   {Reply::WriteAcknowledgement, 0.2, 22, true,  false, Discards::BeforeEachSend,  true};
// Sent once: a block that fails starts again from its address, kBlockTries in all. Once its address is
// acknowledged the data goes, stop or not.
inline constexpr Transaction kBlockData      {Reply::WriteAcknowledgement, 1.0,  1, false, false, Discards::BeforeFirstSend, false};
inline constexpr Transaction kValue          {Reply::WriteAcknowledgement, 1.0,  5, true,  true,  Discards::BeforeEachSend,  true};
// A refused record address skips the record. Once its address is acknowledged the data goes, stop or not.
inline constexpr Transaction kRecordAddress  {Reply::WriteAcknowledgement, 0.1, 12, false, false, Discards::BeforeFirstSend, true};
inline constexpr Transaction kRecordData     {Reply::WriteAcknowledgement, 0.2, 12, true,  false, Discards::Never,           false};
// The clock goes out on every road, a stop or not; a refused clock record counts as taken.
inline constexpr Transaction kClockStart     {Reply::WriteAcknowledgement, 0.1,  5, true,  false, Discards::BeforeEachSend,  false};
inline constexpr Transaction kClockRecord    {Reply::WriteAcknowledgement, 1.0,  5, false, false, Discards::BeforeEachSend,  false};
// clang-format on
inline constexpr int kBlockTries = 4;

// The length of a frame that starts with `code`, its trailing 0x00 included; 0 for a byte that starts none.
// The data frames that follow an address or a clock start are not counted here.
constexpr int FrameLength(std::uint8_t code) {
    switch (code) {
        case Identify:
        case Status:
        case SetClock:
            return 2;
        case DeepSleep:
            return 3;
        case ReadBlock:
        case WriteBlock:
        case CloseImage:
        case WriteBlock2:
        case Image2Parameter:
        case CloseImage2:
        case RecordAddress:
            return 4;
        default:
            return 0;
    }
}

}  // namespace dc
