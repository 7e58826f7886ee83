// libFuzzer target: arbitrary bytes into the firmware decoder. A decoded file must keep the invariants the
// upload relies on, and encoding what was decoded must give back the same values.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "tools/fwr/fwr_encoder.h"

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

std::int32_t CheckImage(const std::vector<BlockRow>& rows, int count) {
    Require(count >= 0 && count <= fwr::kMaxBlocks);
    Require(rows.size() == static_cast<std::size_t>(count));
    std::uint32_t sum = 0;
    for (const BlockRow& row : rows) {
        Require(row[0] >= 0);  // block words below 0x8000
        for (std::size_t c = 1; c <= 129; ++c)
            Require(row[c] >= 0 && row[c] <= 255);
        sum = (sum + static_cast<std::uint32_t>(row[129])) % 65536u;
    }
    return static_cast<std::int32_t>(sum);
}

// Decoded rows as the encoder takes them back: the data, the block words, the record keys.
void TakeBack(const std::vector<BlockRow>& rows, std::optional<std::vector<std::uint8_t>>& image,
              std::vector<std::uint16_t>& words, std::vector<std::uint8_t>& keys) {
    image.emplace();
    for (const BlockRow& row : rows) {
        words.push_back(static_cast<std::uint16_t>(row[0]));
        for (std::size_t c = 1; c <= fwr::kBlockSize; ++c)
            image->push_back(static_cast<std::uint8_t>(row[c]));
        keys.push_back(static_cast<std::uint8_t>(row[129]));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fwr::Decoded d = fwr::Decode(std::span(data, size));
    if (!d.Ok()) {
        Require(!d.message.empty());
        return 0;
    }
    Require(d.header.memorySize >= 1);
    Require(CheckImage(d.codeBlocks, d.codeBlockCount) == d.codeSum);
    Require(CheckImage(d.code2Blocks, d.code2BlockCount) == d.code2Sum);
    Require(size >= fwr::RecordsNeeded(d.kind, d.codeBlockCount, d.code2BlockCount) * fwr::kRecordSize);
    Require(d.header.modelName.size() + d.header.modelId.size() + 2 <=
            fwr::kRecordSize - fwr::kStringsOffset);

    fwr::EncodeInput in;
    in.modelNumber = d.header.modelNumber;
    in.version = d.header.version;
    in.subVersion = d.header.subVersion;
    in.memorySize = d.header.memorySize;
    in.code2Parameter = static_cast<std::uint16_t>(d.code2Parameter);
    in.modelName = d.header.modelName;
    in.modelId = d.header.modelId;
    in.key = d.header.key;
    in.recordKeyRule = fwr::RecordKeyRule::Given;
    if (d.kind != fwr::Kind::Code2Only) {
        TakeBack(d.codeBlocks, in.image1, in.words1, in.recordKeys1);
        in.checksum1 = static_cast<std::uint16_t>(d.codeChecksum);
    }
    if (d.kind != fwr::Kind::CodeOnly) {
        TakeBack(d.code2Blocks, in.image2, in.words2, in.recordKeys2);
        in.checksum2 = static_cast<std::uint16_t>(d.code2Checksum);
    }
    const fwr::Encoded e = fwr::Encode(in);
    Require(e.ok);
    const fwr::Decoded again = fwr::Decode(e.file);
    Require(again.Ok());
    Require(again.kind == d.kind);
    Require(again.header.modelName == d.header.modelName && again.header.modelId == d.header.modelId);
    Require(again.header.version == d.header.version && again.header.subVersion == d.header.subVersion);
    Require(again.header.modelNumber == d.header.modelNumber &&
            again.header.memorySize == d.header.memorySize);
    Require(again.codeBlocks == d.codeBlocks && again.code2Blocks == d.code2Blocks);
    Require(again.codeChecksum == d.codeChecksum && again.code2Checksum == d.code2Checksum);
    Require(again.code2Parameter == d.code2Parameter && again.emptyStringCode == d.emptyStringCode);
    return 0;
}
