#pragma once

// The firmware file's encoder, with the options that make deliberately wrong files: for kav-fwr pack and for
// the tests and benchmarks that make their own files. The program only reads firmware files
// (firmware/fwr_format.h).

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "firmware/fwr_format.h"

namespace fwr {

enum class RecordKeyRule {
    DataSum,  // the sum of the block's data bytes modulo 256: what the device expects as the check byte
    Fixed,    // recordKey for every record
    Random,   // drawn from the seed
    Given,    // recordKeys1 / recordKeys2, one per block
};

struct EncodeInput {
    std::uint16_t modelNumber = 0;
    std::string version = "1A";  // exactly two bytes
    std::uint8_t subVersion = 0;
    std::uint16_t memorySize = 512;
    std::uint16_t code2Parameter = 0;
    std::string modelName;  // Windows ANSI bytes; together with modelId at most 97 bytes
    std::string modelId;
    bool demoMark = false;  // the file is the generated demo firmware

    // Which images the file holds decides its kind; an image is cut into 128-byte blocks, the last one
    // padded.
    std::optional<std::vector<std::uint8_t>> image1;
    std::optional<std::vector<std::uint8_t>> image2;
    std::uint8_t padByte = 0xFF;

    // Block words: given (one per block) or consecutive from a first word, 8 units per block. The second
    // image continues after the first unless firstWord2 is given.
    std::vector<std::uint16_t> words1, words2;
    std::uint16_t firstWord1 = 0;
    std::optional<std::uint16_t> firstWord2;

    std::optional<std::array<std::uint8_t, 8>> key;  // drawn from the seed when absent
    RecordKeyRule recordKeyRule = RecordKeyRule::DataSum;
    std::uint8_t recordKey = 0;
    std::vector<std::uint8_t> recordKeys1, recordKeys2;
    std::uint64_t seed = 0x4B41563146ULL;

    // Stored instead of the computed values, to make deliberately wrong files.
    std::optional<std::uint16_t> checksum1, checksum2;
    std::optional<std::uint16_t> kindSelector, count1Field, count2Field;
    std::uint16_t checksumOffset = 0;  // added to each computed checksum that is not replaced
};

struct Encoded {
    bool ok = false;
    std::string error;
    std::vector<std::uint8_t> file;
    Kind kind = Kind::CodeOnly;
    int blocks1 = 0, blocks2 = 0;
    std::uint16_t sum1 = 0, sum2 = 0;  // the correct checksums, whatever was stored
    std::array<std::uint8_t, 8> key{};
};

Encoded Encode(const EncodeInput& in);

}  // namespace fwr
