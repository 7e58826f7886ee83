// Decoding a firmware file of the largest size (two images of 1024 blocks each) from memory.
#include <chrono>
#include <cstdio>

#include "tools/fwr/fwr_encoder.h"

int main() {
    fwr::EncodeInput in;
    in.modelNumber = 513;
    in.version = "1B";
    in.modelName = "KAV 1F";
    in.modelId = "KAV1F";
    std::vector<std::uint8_t> image(1024 * 128);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = std::uint8_t(i * 31 + 7);
    in.image1 = image;
    in.image2 = image;
    const fwr::Encoded file = fwr::Encode(in);
    if (!file.ok)
        return 1;
    constexpr int kRounds = 50;
    std::size_t blocks = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRounds; ++i) {
        const fwr::Decoded d = fwr::Decode(file.file);
        blocks += d.codeBlocks.size() + d.code2Blocks.size();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("firmware decode: %zu bytes in %.2f ms each (%zu blocks in all)\n", file.file.size(),
                seconds * 1e3 / kRounds, blocks);
    return 0;
}
