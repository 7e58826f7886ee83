#pragma once

// The firmware file: 131-byte records, a scrambled header and one or two images of 128-byte blocks.
// Plain C++ without Qt so that the decoder can be fuzzed on its own.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "run/block_row.h"

namespace fwr {

inline constexpr std::size_t kRecordSize = 131;
inline constexpr std::size_t kBlockSize = 128;
inline constexpr std::size_t kKeyOffset = 8;       // header bytes 8..15
inline constexpr std::size_t kStringsOffset = 32;  // header strings start here
inline constexpr std::size_t kRecordKeyOffset = 130;
// Header bytes 25..29, which the loader otherwise skips: "DEMO" and a zero in a generated demo file. A
// generated image in a real DC would leave it without working firmware; a maker's file never has the mark.
inline constexpr std::size_t kDemoMarkOffset = 25;
inline constexpr std::array<std::uint8_t, 5> kDemoMark = {'D', 'E', 'M', 'O', 0};
inline constexpr int kMaxBlocks = 1024;
inline constexpr std::uint16_t kMaxBlockWord = 0x7FFF;
inline constexpr std::uint16_t kWordsPerBlock = 8;  // 16-byte units in a 128-byte block

// Rows hold the block word in column 0 and the record's key byte (the device's check byte) in column 129.
using ::BlockRow;

enum class Kind { CodeOnly, Code2Only, CodeAndCode2 };
const char* KindName(Kind kind);

enum class DecodeError {
    None,
    HeaderTruncated,        // fewer than 131 bytes
    UnterminatedModelName,  // no zero byte before offset 131
    UnterminatedModelId,
    TooManyBlocks,   // a block count taken by the kind is above 1024
    Truncated,       // fewer records than the header announces
    BadBlockWord,    // a block word's high byte is 0x80 or more
    ZeroMemorySize,  // the receive buffers could not hold one block
};

// The header as stored once bytes 0..7 are unscrambled: every field, whether or not the kind takes it.
struct Header {
    std::array<std::uint8_t, kRecordSize> record{};  // bytes 0..7 plain, the strings still scrambled
    std::uint16_t modelNumber = 0;
    std::string version;  // two bytes of the Windows ANSI code page
    std::uint16_t checksum1 = 0;
    std::uint16_t memorySize = 0;
    std::array<std::uint8_t, 8> key{};
    std::uint16_t count1 = 0;
    std::uint16_t checksum2 = 0;
    std::uint16_t count2 = 0;
    std::uint16_t code2Parameter = 0;
    std::uint8_t subVersion = 0;
    std::uint16_t kindSelector = 0;
    bool demo = false;      // the demo mark at bytes 25..29
    std::string modelName;  // bytes of the Windows ANSI code page
    std::string modelId;
};

struct Decoded {
    DecodeError error = DecodeError::None;
    std::string message;      // says what is wrong; empty when error is None
    int emptyStringCode = 0;  // 4: empty model name; 5: empty model identifier (replaces 4)
    Header header;
    bool headerRead = false;  // header holds the file's values (may be partial when error is set)
    Kind kind = Kind::CodeAndCode2;
    // The values the kind takes; the others stay 0.
    int codeBlockCount = 0;
    int code2BlockCount = 0;
    std::int32_t codeChecksum = 0;
    std::int32_t code2Checksum = 0;
    std::int32_t code2Parameter = 0;
    std::vector<BlockRow> codeBlocks;  // row i-1 holds block i
    std::vector<BlockRow> code2Blocks;
    std::int32_t codeSum = 0;  // sums of the key bytes modulo 65536
    std::int32_t code2Sum = 0;

    bool Ok() const { return error == DecodeError::None; }
};

// Decodes a whole file held in memory. Never reads outside `file`.
Decoded Decode(std::span<const std::uint8_t> file);

// 0 when the image checksums hold, else the number of the first failing check: 1 for a one-image file, 2
// (first image) or 3 (second image) for a two-image file.
int ChecksumFailure(const Decoded& d);

// Records a file of the given kind and block counts must hold, header included.
std::size_t RecordsNeeded(Kind kind, int count1, int count2);

// How reports name a value and an image.
std::string Hex4(unsigned value);  // "0x0000"
const char* ImageName(bool second);

}  // namespace fwr
