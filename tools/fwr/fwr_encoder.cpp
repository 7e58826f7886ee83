#include "tools/fwr/fwr_encoder.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <span>

namespace fwr {

namespace {

void PutWord(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value) {
    bytes[offset] = static_cast<std::uint8_t>(value >> 8);
    bytes[offset + 1] = static_cast<std::uint8_t>(value & 0xFF);
}

// Cycling key index: the ninth character reuses key byte 8.
std::size_t KeyIndex(std::size_t position) {
    return kKeyOffset + position % 8;
}

struct ImagePlan {
    std::vector<std::uint8_t> data;  // padded to whole blocks
    std::vector<std::uint16_t> words;
    std::vector<std::uint8_t> keys;
    int blocks = 0;
    std::uint16_t sum = 0;
};

std::string PlanImage(const EncodeInput& in, const std::vector<std::uint8_t>& image, bool second,
                      std::uint16_t firstWord, std::mt19937_64& rng, ImagePlan& plan) {
    const std::string name = ImageName(second);
    plan.blocks = static_cast<int>((image.size() + kBlockSize - 1) / kBlockSize);
    if (plan.blocks > kMaxBlocks)
        return "the " + name + " needs " + std::to_string(plan.blocks) + " blocks; at most 1024 fit";
    plan.data = image;
    plan.data.resize(static_cast<std::size_t>(plan.blocks) * kBlockSize, in.padByte);

    const auto& givenWords = second ? in.words2 : in.words1;
    if (!givenWords.empty()) {
        if (givenWords.size() != static_cast<std::size_t>(plan.blocks))
            return std::to_string(givenWords.size()) + " block words given for the " + name + " of " +
                   std::to_string(plan.blocks) + " blocks";
        plan.words = givenWords;
    } else {
        for (int i = 0; i < plan.blocks; ++i)
            plan.words.push_back(static_cast<std::uint16_t>(firstWord + i * kWordsPerBlock));
        if (plan.blocks > 0 && firstWord + (plan.blocks - 1) * kWordsPerBlock > kMaxBlockWord)
            return "the block words of the " + name + " run past 0x7FFF";
    }
    for (const std::uint16_t w : plan.words) {
        if (w > kMaxBlockWord)
            return "block word " + Hex4(w) + " of the " + name + " is above 0x7FFF";
    }

    const auto& givenKeys = second ? in.recordKeys2 : in.recordKeys1;
    if (in.recordKeyRule == RecordKeyRule::Given && givenKeys.size() != static_cast<std::size_t>(plan.blocks))
        return std::to_string(givenKeys.size()) + " record keys given for the " + name + " of " +
               std::to_string(plan.blocks) + " blocks";
    std::uint32_t sum = 0;
    for (int i = 0; i < plan.blocks; ++i) {
        std::uint8_t key = 0;
        switch (in.recordKeyRule) {
            case RecordKeyRule::DataSum: {
                unsigned s = 0;
                for (std::size_t c = 0; c < kBlockSize; ++c)
                    s += plan.data[static_cast<std::size_t>(i) * kBlockSize + c];
                key = static_cast<std::uint8_t>(s & 0xFF);
                break;
            }
            case RecordKeyRule::Fixed:
                key = in.recordKey;
                break;
            case RecordKeyRule::Random:
                key = static_cast<std::uint8_t>(rng() & 0xFF);
                break;
            case RecordKeyRule::Given:
                key = givenKeys[static_cast<std::size_t>(i)];
                break;
        }
        plan.keys.push_back(key);
        sum = (sum + key) % 65536u;
    }
    plan.sum = static_cast<std::uint16_t>(sum);
    return {};
}

void AppendImage(const ImagePlan& plan, std::vector<std::uint8_t>& file) {
    for (int i = 0; i < plan.blocks; ++i) {
        const auto b = static_cast<std::size_t>(i);
        std::array<std::uint8_t, kRecordSize> rec{};
        PutWord(rec, 0, plan.words[b]);
        for (std::size_t c = 0; c < kBlockSize; ++c)
            rec[c + 2] = static_cast<std::uint8_t>(plan.data[b * kBlockSize + c] ^ plan.keys[b]);
        rec[kRecordKeyOffset] = plan.keys[b];
        file.insert(file.end(), rec.begin(), rec.end());
    }
}

// A stored string byte of 0 would end the string early: the character must differ from its key byte.
std::string KeyCollision(const std::string& text, const char* what, const std::array<std::uint8_t, 8>& key) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (static_cast<std::uint8_t>(text[i]) == key[KeyIndex(i) - kKeyOffset])
            return std::string("character ") + std::to_string(i + 1) + " of the " + what +
                   " equals key byte " + std::to_string(KeyIndex(i)) + "; its stored byte would be 0";
    }
    return {};
}

}  // namespace

Encoded Encode(const EncodeInput& in) {
    Encoded out;
    auto fail = [&out](std::string message) {
        out.ok = false;
        out.error = std::move(message);
        out.file.clear();
        return out;
    };
    if (in.version.size() != 2)
        return fail("the version must be exactly two characters");
    if (!in.image1 && !in.image2)
        return fail("no image given");
    if (kStringsOffset + in.modelName.size() + 1 + in.modelId.size() + 1 > kRecordSize)
        return fail("model name and identifier take " +
                    std::to_string(in.modelName.size() + in.modelId.size()) +
                    " bytes; together at most 97 fit in the header");
    out.kind = in.image1 && in.image2 ? Kind::CodeAndCode2 : (in.image1 ? Kind::CodeOnly : Kind::Code2Only);

    std::mt19937_64 rng(in.seed);
    std::array<std::uint8_t, 8> key{};
    if (in.key) {
        key = *in.key;
    } else {
        for (std::size_t j = 0; j < 8; ++j) {
            auto used = [&](std::uint8_t candidate) {
                for (const std::string* s : {&in.modelName, &in.modelId}) {
                    for (std::size_t i = j; i < s->size(); i += 8) {
                        if (static_cast<std::uint8_t>((*s)[i]) == candidate)
                            return true;
                    }
                }
                return false;
            };
            do {
                key[j] = static_cast<std::uint8_t>(rng() & 0xFF);
            } while (key[j] == 0 || used(key[j]));
        }
    }
    for (const auto& [text, what] :
         {std::pair{&in.modelName, "model name"}, {&in.modelId, "model identifier"}}) {
        if (std::string problem = KeyCollision(*text, what, key); !problem.empty())
            return fail(problem);
    }
    out.key = key;

    ImagePlan plan1, plan2;
    if (in.image1) {
        if (std::string problem = PlanImage(in, *in.image1, false, in.firstWord1, rng, plan1);
            !problem.empty())
            return fail(problem);
    }
    if (in.image2) {
        const auto next = static_cast<std::uint16_t>(in.firstWord1 + plan1.blocks * kWordsPerBlock);
        const std::uint16_t first2 = in.firstWord2.value_or(in.image1 ? next : in.firstWord1);
        if (std::string problem = PlanImage(in, *in.image2, true, first2, rng, plan2); !problem.empty())
            return fail(problem);
    }
    out.blocks1 = plan1.blocks;
    out.blocks2 = plan2.blocks;
    out.sum1 = plan1.sum;
    out.sum2 = plan2.sum;

    std::uint16_t count1 = 0, count2 = 0, checksum1 = 0, checksum2 = 0, selector = 0;
    const auto n1 = static_cast<std::uint16_t>(plan1.blocks);
    const auto n2 = static_cast<std::uint16_t>(plan2.blocks);
    switch (out.kind) {
        case Kind::CodeOnly:
            count1 = n1;
            checksum1 = static_cast<std::uint16_t>(plan1.sum + in.checksumOffset);
            selector = n1;
            break;
        case Kind::Code2Only:
            count1 = static_cast<std::uint16_t>(n2 ^ 0xFFFF);  // must not match the selector
            count2 = n2;
            checksum2 = static_cast<std::uint16_t>(plan2.sum + in.checksumOffset);
            selector = n2;
            break;
        case Kind::CodeAndCode2:
            count1 = n1;
            count2 = n2;
            checksum1 = static_cast<std::uint16_t>(plan1.sum + in.checksumOffset);
            checksum2 = static_cast<std::uint16_t>(plan2.sum + in.checksumOffset);
            selector = 0xFFFF;
            while (selector == n1 || selector == n2)
                --selector;
            break;
    }

    std::array<std::uint8_t, kRecordSize> h{};
    PutWord(h, 0, in.modelNumber);
    h[2] = static_cast<std::uint8_t>(in.version[0]);
    h[3] = static_cast<std::uint8_t>(in.version[1]);
    PutWord(h, 4, in.checksum1.value_or(checksum1));
    PutWord(h, 6, in.memorySize);
    std::copy(key.begin(), key.end(), h.begin() + kKeyOffset);
    for (std::size_t k = 0; k < 8; ++k)
        h[k] ^= h[k + kKeyOffset];
    PutWord(h, 16, in.count1Field.value_or(count1));
    PutWord(h, 18, in.checksum2.value_or(checksum2));
    PutWord(h, 20, in.count2Field.value_or(count2));
    PutWord(h, 22, in.code2Parameter);
    h[24] = in.subVersion;
    if (in.demoMark)
        std::copy(kDemoMark.begin(), kDemoMark.end(), h.begin() + kDemoMarkOffset);
    PutWord(h, 30, in.kindSelector.value_or(selector));
    std::size_t p = kStringsOffset;
    for (const std::string* s : {&in.modelName, &in.modelId}) {
        for (std::size_t i = 0; i < s->size(); ++i)
            h[p++] =
                static_cast<std::uint8_t>(static_cast<std::uint8_t>((*s)[i]) ^ key[KeyIndex(i) - kKeyOffset]);
        h[p++] = 0;
    }

    out.file.assign(h.begin(), h.end());
    AppendImage(plan1, out.file);
    if (out.kind == Kind::CodeAndCode2) {
        // Read and not used by the loader; a block word it could not take shows if it ever were used.
        std::array<std::uint8_t, kRecordSize> unused{};
        for (auto& b : unused)
            b = static_cast<std::uint8_t>(rng() & 0xFF);
        unused[0] = 0xFF;
        unused[1] = 0xFF;
        out.file.insert(out.file.end(), unused.begin(), unused.end());
    }
    AppendImage(plan2, out.file);
    out.ok = true;
    return out;
}

}  // namespace fwr
