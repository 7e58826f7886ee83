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

// Columns first..last of every row: 1..128 the data, 0 the block words, 129 the record keys.
template <typename T>
std::vector<T> Columns(const std::vector<BlockRow>& rows, std::size_t first, std::size_t last) {
    std::vector<T> values;
    for (const BlockRow& row : rows) {
        for (std::size_t c = first; c <= last; ++c)
            values.push_back(static_cast<T>(row[c]));
    }
    return values;
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
        in.image1 = Columns<std::uint8_t>(d.codeBlocks, 1, fwr::kBlockSize);
        in.words1 = Columns<std::uint16_t>(d.codeBlocks, 0, 0);
        in.recordKeys1 = Columns<std::uint8_t>(d.codeBlocks, 129, 129);
        in.checksum1 = static_cast<std::uint16_t>(d.codeChecksum);
    }
    if (d.kind != fwr::Kind::CodeOnly) {
        in.image2 = Columns<std::uint8_t>(d.code2Blocks, 1, fwr::kBlockSize);
        in.words2 = Columns<std::uint16_t>(d.code2Blocks, 0, 0);
        in.recordKeys2 = Columns<std::uint8_t>(d.code2Blocks, 129, 129);
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
