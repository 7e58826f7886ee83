#include "firmware/fwr_format.h"

#include <algorithm>
#include <cstdio>

namespace fwr {

namespace {

std::uint16_t WordAt(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] << 8 | bytes[offset + 1]);
}

bool DecodeString(const std::array<std::uint8_t, kRecordSize>& r, std::size_t& p, std::string& out) {
    std::size_t k = kKeyOffset;
    while (p < kRecordSize) {
        if (r[p] == 0)
            return true;
        out.push_back(static_cast<char>(r[p] ^ r[k]));
        k = k == kKeyOffset + 7 ? kKeyOffset : k + 1;
        ++p;
    }
    return false;
}

bool LoadImage(std::span<const std::uint8_t> file, std::size_t firstRecord, int count, bool second,
               std::vector<BlockRow>& rows, std::int32_t& sum, Decoded& d) {
    rows.assign(static_cast<std::size_t>(count), BlockRow{});
    std::uint32_t s = 0;
    for (int i = 1; i <= count; ++i) {
        const std::size_t recordNumber = firstRecord + static_cast<std::size_t>(i) - 1;
        const auto rec = file.subspan((recordNumber - 1) * kRecordSize, kRecordSize);
        if (rec[0] >= 0x80) {
            d.error = DecodeError::BadBlockWord;
            d.message = "block " + std::to_string(i) + " of the " + ImageName(second) + " (record " +
                        std::to_string(recordNumber) + ") has block word " + Hex4(WordAt(rec, 0)) +
                        "; block words end at 0x7FFF";
            return false;
        }
        BlockRow& row = rows[static_cast<std::size_t>(i) - 1];
        const std::uint8_t key = rec[kRecordKeyOffset];
        row[0] = static_cast<std::int16_t>(WordAt(rec, 0));
        for (std::size_t c = 1; c <= kBlockSize; ++c)
            row[c] = static_cast<std::int16_t>(rec[c + 1] ^ key);
        row[129] = key;
        s = (s + key) % 65536u;
    }
    sum = static_cast<std::int32_t>(s);
    return true;
}

// Sets the error; false, for the caller to stop with.
bool Fail(Decoded& d, DecodeError error, std::string message) {
    d.error = error;
    d.message = std::move(message);
    return false;
}

// The header's fields, once bytes 0..7 are unscrambled; the strings stay scrambled.
void ReadHeader(std::span<const std::uint8_t> file, Header& h) {
    auto& r = h.record;
    std::copy_n(file.begin(), kRecordSize, r.begin());
    for (std::size_t k = 0; k < 8; ++k)
        r[k] ^= r[k + kKeyOffset];
    h.modelNumber = WordAt(r, 0);
    h.version = {static_cast<char>(r[2]), static_cast<char>(r[3])};
    h.checksum1 = WordAt(r, 4);
    h.memorySize = WordAt(r, 6);
    std::copy_n(r.begin() + kKeyOffset, 8, h.key.begin());
    h.count1 = WordAt(r, 16);
    h.checksum2 = WordAt(r, 18);
    h.count2 = WordAt(r, 20);
    h.code2Parameter = WordAt(r, 22);
    h.subVersion = r[24];
    h.kindSelector = WordAt(r, 30);
    h.demo = std::equal(kDemoMark.begin(), kDemoMark.end(), r.begin() + kDemoMarkOffset);
}

bool ReadHeaderStrings(Decoded& d) {
    Header& h = d.header;
    std::size_t p = kStringsOffset;
    if (!DecodeString(h.record, p, h.modelName))
        return Fail(d, DecodeError::UnterminatedModelName,
                    "the model name has no terminating zero in the header");
    if (h.modelName.empty())
        d.emptyStringCode = 4;
    ++p;
    if (!DecodeString(h.record, p, h.modelId))
        return Fail(d, DecodeError::UnterminatedModelId,
                    "the model identifier has no terminating zero in the header");
    if (h.modelId.empty())
        d.emptyStringCode = 5;
    return true;
}

// The kind, by the selector, and the header values that kind takes.
void SelectKind(Decoded& d) {
    const Header& h = d.header;
    const auto& r = h.record;
    // The first test wins when the selector matches both counts.
    if (r[30] == r[16] && r[31] == r[17]) {
        d.kind = Kind::CodeOnly;
        d.codeChecksum = h.checksum1;
        d.codeBlockCount = h.count1;
    } else if (r[30] == r[20] && r[31] == r[21]) {
        d.kind = Kind::Code2Only;
        d.code2Checksum = h.checksum2;
        d.code2BlockCount = h.count2;
        d.code2Parameter = h.code2Parameter;
    } else {
        d.kind = Kind::CodeAndCode2;
        d.codeChecksum = h.checksum1;
        d.codeBlockCount = h.count1;
        d.code2Checksum = h.checksum2;
        d.code2BlockCount = h.count2;
        d.code2Parameter = h.code2Parameter;
    }
}

// Whether the block counts are allowed and the file holds the records they announce.
bool CountsFit(std::size_t fileSize, Decoded& d) {
    for (const auto& [count, second] : {std::pair{d.codeBlockCount, false}, {d.code2BlockCount, true}}) {
        if (count > kMaxBlocks)
            return Fail(d, DecodeError::TooManyBlocks,
                        std::string("the ") + ImageName(second) + " announces " + std::to_string(count) +
                            " blocks; at most 1024 fit");
    }
    const std::size_t needed = RecordsNeeded(d.kind, d.codeBlockCount, d.code2BlockCount);
    const std::size_t held = fileSize / kRecordSize;
    if (held < needed)
        return Fail(d, DecodeError::Truncated,
                    "the file holds " + std::to_string(held) + " whole records (" + std::to_string(fileSize) +
                        " bytes); the header announces " + std::to_string(needed));
    return true;
}

bool LoadImages(std::span<const std::uint8_t> file, Decoded& d) {
    switch (d.kind) {
        case Kind::CodeOnly:
            return LoadImage(file, 2, d.codeBlockCount, false, d.codeBlocks, d.codeSum, d);
        case Kind::Code2Only:
            return LoadImage(file, 2, d.code2BlockCount, true, d.code2Blocks, d.code2Sum, d);
        case Kind::CodeAndCode2: {
            if (!LoadImage(file, 2, d.codeBlockCount, false, d.codeBlocks, d.codeSum, d))
                return false;
            // One unused record lies between the images.
            const auto second = static_cast<std::size_t>(d.codeBlockCount) + 3;
            return LoadImage(file, second, d.code2BlockCount, true, d.code2Blocks, d.code2Sum, d);
        }
    }
    return true;
}

}  // namespace

const char* KindName(Kind kind) {
    switch (kind) {
        case Kind::CodeOnly:
            return "first image only";
        case Kind::Code2Only:
            return "second image only";
        case Kind::CodeAndCode2:
            return "both images";
    }
    return "";
}

std::size_t RecordsNeeded(Kind kind, int count1, int count2) {
    const auto n1 = static_cast<std::size_t>(count1);
    const auto n2 = static_cast<std::size_t>(count2);
    switch (kind) {
        case Kind::CodeOnly:
            return 1 + n1;
        case Kind::Code2Only:
            return 1 + n2;
        case Kind::CodeAndCode2:
            return 1 + n1 + 1 + n2;  // one unused record between the images
    }
    return 1;
}

Decoded Decode(std::span<const std::uint8_t> file) {
    Decoded d;
    if (file.size() < kRecordSize) {
        Fail(d, DecodeError::HeaderTruncated,
             "the file holds " + std::to_string(file.size()) + " bytes; its header record needs 131");
        return d;
    }
    ReadHeader(file, d.header);
    d.headerRead = true;
    if (!ReadHeaderStrings(d))
        return d;
    SelectKind(d);
    if (!CountsFit(file.size(), d) || !LoadImages(file, d))
        return d;
    if (d.header.memorySize == 0)
        Fail(d, DecodeError::ZeroMemorySize, "the memory size code is 0; it sizes the receive buffers");
    return d;
}

int ChecksumFailure(const Decoded& d) {
    switch (d.kind) {
        case Kind::CodeOnly:
            return d.codeSum != d.codeChecksum ? 1 : 0;
        case Kind::Code2Only:
            return d.code2Sum != d.code2Checksum ? 1 : 0;
        case Kind::CodeAndCode2:
            if (d.codeSum != d.codeChecksum)
                return 2;
            return d.code2Sum != d.code2Checksum ? 3 : 0;
    }
    return 0;
}

std::string Hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value & 0xFFFFu);
    return text;
}

const char* ImageName(bool second) {
    return second ? "second image" : "first image";
}

}  // namespace fwr
