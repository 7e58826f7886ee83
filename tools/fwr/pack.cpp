#include <QCommandLineParser>
#include <QFile>
#include <cstdio>

#include "tools/fwr/fwr_encoder.h"
#include "tools/fwr/fwr_tool.h"

namespace {

struct PackOptions {
    QCommandLineOption out{"out", "Firmware file to write.", "FILE"};
    QCommandLineOption modelNumber{"model-number", "Model number (header bytes 0-1).", "N", "513"};
    QCommandLineOption version{"version", "Firmware version, two characters.", "XX", "1B"};
    QCommandLineOption subVersion{"sub-version", "Sub-version 0..255.", "N", "5"};
    QCommandLineOption memory{"memory", "Memory size code, 1..65535.", "N", "512"};
    QCommandLineOption name{"name", "Model name shown to the user.", "TEXT", "KAV 1F"};
    QCommandLineOption id{"id", "Model identifier the DC reports.", "TEXT", "KAV1F"};
    QCommandLineOption image{"image", "First code image (raw bytes).", "FILE"};
    QCommandLineOption image2{"image2", "Second code image (raw bytes).", "FILE"};
    QCommandLineOption demoImage{
        "demo-image",
        "Generated first image of BLOCKS blocks instead of --image; the file is marked "
        "as the demo firmware, which kav-update writes to the simulated DC only.",
        "BLOCKS"};
    QCommandLineOption code2Parameter{"code2-parameter", "Second image parameter.", "N", "0"};
    QCommandLineOption firstWord{"first-word", "Block word of the first block; 8 more per block.", "N", "0"};
    QCommandLineOption firstWord2{
        "first-word2", "Block word of the second image's first block (default: after the first).", "N"};
    QCommandLineOption words{"words", "File of block words, one per block, first image then second.", "FILE"};
    QCommandLineOption key{"key", "The eight header key bytes as 16 hex digits.", "HEX16"};
    QCommandLineOption recordKey{"record-key",
                                 "Key byte of every record: sum (data sum mod 256, what the DC checks), "
                                 "random (from the seed) or a number 0..255.",
                                 "RULE", "sum"};
    QCommandLineOption seed{"seed", "Seed for the key bytes chosen by the tool.", "N"};
    QCommandLineOption checksum{"checksum", "Store N as the first image's checksum.", "N"};
    QCommandLineOption checksum2{"checksum2", "Store N as the second image's checksum.", "N"};
    QCommandLineOption badChecksum{"bad-checksum", "Store each image's checksum plus one."};
    QCommandLineOption kindSelector{"kind-selector", "Store N as the kind selector (bytes 30-31).", "N"};
};

template <typename T>
bool Number(const QCommandLineParser& p, const QCommandLineOption& o, unsigned min, unsigned max, T& out) {
    const auto value = ParseNumber(p.value(o), max);
    if (!value || *value < min) {
        PrintError(QStringLiteral("--%1 wants a number %2..%3, not \"%4\"")
                       .arg(o.names().first())
                       .arg(min)
                       .arg(max)
                       .arg(p.value(o)));
        return false;
    }
    out = static_cast<T>(*value);
    return true;
}

template <typename T>
bool OptionalNumber(const QCommandLineParser& p, const QCommandLineOption& o, unsigned max,
                    std::optional<T>& out) {
    if (!p.isSet(o))
        return true;
    T value{};
    if (!Number(p, o, 0, max, value))
        return false;
    out = value;
    return true;
}

bool Text(const QCommandLineParser& p, const QCommandLineOption& o, std::string& out) {
    const auto ansi = ToAnsi(p.value(o));
    if (!ansi) {
        PrintError(
            QStringLiteral("--%1 has a character outside the Windows ANSI code page").arg(o.names().first()));
        return false;
    }
    out = *ansi;
    return true;
}

std::optional<std::array<std::uint8_t, 8>> ParseKey(const QString& hex) {
    if (hex.size() != 16)
        return std::nullopt;
    std::array<std::uint8_t, 8> key{};
    for (std::size_t i = 0; i < 8; ++i) {
        bool ok = false;
        key[i] = static_cast<std::uint8_t>(hex.mid(static_cast<qsizetype>(2 * i), 2).toUInt(&ok, 16));
        if (!ok)
            return std::nullopt;
    }
    return key;
}

std::size_t BlocksOf(const std::optional<std::vector<std::uint8_t>>& image) {
    return image ? (image->size() + fwr::kBlockSize - 1) / fwr::kBlockSize : 0;
}

// Fills `in` from the command line; false after reporting the problem.
bool ReadPackOptions(const QCommandLineParser& p, const PackOptions& o, fwr::EncodeInput& in) {
    if (!Number(p, o.modelNumber, 0, 0xFFFF, in.modelNumber) ||
        !Number(p, o.subVersion, 0, 255, in.subVersion) || !Number(p, o.memory, 1, 0xFFFF, in.memorySize) ||
        !Number(p, o.code2Parameter, 0, 0xFFFF, in.code2Parameter) ||
        !Number(p, o.firstWord, 0, fwr::kMaxBlockWord, in.firstWord1) ||
        !OptionalNumber(p, o.firstWord2, fwr::kMaxBlockWord, in.firstWord2) ||
        !OptionalNumber(p, o.checksum, 0xFFFF, in.checksum1) ||
        !OptionalNumber(p, o.checksum2, 0xFFFF, in.checksum2) ||
        !OptionalNumber(p, o.kindSelector, 0xFFFF, in.kindSelector))
        return false;
    if (!Text(p, o.version, in.version) || !Text(p, o.name, in.modelName) || !Text(p, o.id, in.modelId))
        return false;
    if (in.version.size() != 2) {
        PrintError(QStringLiteral("--version wants exactly two characters"));
        return false;
    }
    if (p.isSet(o.seed)) {
        bool ok = false;
        in.seed = p.value(o.seed).toULongLong(&ok, 0);
        if (!ok) {
            PrintError(QStringLiteral("--seed wants a number"));
            return false;
        }
    }
    if (p.isSet(o.key)) {
        in.key = ParseKey(p.value(o.key));
        if (!in.key) {
            PrintError(QStringLiteral("--key wants 16 hex digits"));
            return false;
        }
    }
    const QString rule = p.value(o.recordKey);
    if (rule == QLatin1String("sum")) {
        in.recordKeyRule = fwr::RecordKeyRule::DataSum;
    } else if (rule == QLatin1String("random")) {
        in.recordKeyRule = fwr::RecordKeyRule::Random;
    } else {
        in.recordKeyRule = fwr::RecordKeyRule::Fixed;
        if (!Number(p, o.recordKey, 0, 255, in.recordKey))
            return false;
    }

    QString error;
    if (p.isSet(o.image) && p.isSet(o.demoImage)) {
        PrintError(QStringLiteral("give --image or --demo-image, not both"));
        return false;
    }
    if (p.isSet(o.demoImage)) {
        int blocks = 0;
        if (!Number(p, o.demoImage, 0, fwr::kMaxBlocks, blocks))
            return false;
        in.image1 = DemoImage(blocks);
        in.demoMark = true;
    }
    for (const auto& [option, image] : {std::pair{&o.image, &in.image1}, {&o.image2, &in.image2}}) {
        if (!p.isSet(*option))
            continue;
        *image = ReadBinary(p.value(*option), error);
        if (!*image) {
            PrintError(error);
            return false;
        }
    }
    if (!in.image1 && !in.image2) {
        PrintError(QStringLiteral("give --image, --image2 or --demo-image"));
        return false;
    }

    if (p.isSet(o.words)) {
        if (p.isSet(o.firstWord) || p.isSet(o.firstWord2)) {
            PrintError(QStringLiteral("give --words or --first-word, not both"));
            return false;
        }
        QFile file(p.value(o.words));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            PrintError(QStringLiteral("cannot open %1").arg(p.value(o.words)));
            return false;
        }
        const auto words = ParseWordList(QString::fromUtf8(file.readAll()), error);
        if (!words) {
            PrintError(error);
            return false;
        }
        const std::size_t n1 = BlocksOf(in.image1);
        if (words->size() != n1 + BlocksOf(in.image2)) {
            PrintError(QStringLiteral("%1 holds %2 block words; the images have %3 blocks")
                           .arg(p.value(o.words))
                           .arg(words->size())
                           .arg(n1 + BlocksOf(in.image2)));
            return false;
        }
        in.words1.assign(words->begin(), words->begin() + static_cast<std::ptrdiff_t>(n1));
        in.words2.assign(words->begin() + static_cast<std::ptrdiff_t>(n1), words->end());
    }
    return true;
}

}  // namespace

int RunPack(const QStringList& arguments) {
    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral("Builds a scrambled firmware file from one or two code images."));
    p.addHelpOption();
    const PackOptions o;
    for (const QCommandLineOption* option :
         {&o.out,        &o.modelNumber, &o.version,     &o.subVersion, &o.memory,         &o.name,
          &o.id,         &o.image,       &o.image2,      &o.demoImage,  &o.code2Parameter, &o.firstWord,
          &o.firstWord2, &o.words,       &o.key,         &o.recordKey,  &o.seed,           &o.checksum,
          &o.checksum2,  &o.badChecksum, &o.kindSelector})
        p.addOption(*option);
    if (!p.parse(arguments)) {
        PrintError(p.errorText());
        return ToolUsage;
    }
    if (p.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(p.helpText()), stdout);
        return ToolOk;
    }
    if (!p.positionalArguments().isEmpty() || !p.isSet(o.out)) {
        PrintError(QStringLiteral("usage: kav-fwr pack --out FILE [options]; see kav-fwr pack --help"));
        return ToolUsage;
    }
    fwr::EncodeInput in;
    if (!ReadPackOptions(p, o, in))
        return ToolUsage;

    if (p.isSet(o.badChecksum))
        in.checksumOffset = 1;
    const fwr::Encoded encoded = fwr::Encode(in);
    if (!encoded.ok) {
        PrintError(QString::fromStdString(encoded.error));
        return ToolUsage;
    }
    QString error;
    if (!WriteBinary(p.value(o.out), encoded.file, error)) {
        PrintError(error);
        return ToolFileBad;
    }
    std::printf("%s: %s, %d + %d blocks, sums 0x%04X 0x%04X, %zu bytes\n", qPrintable(p.value(o.out)),
                fwr::KindName(encoded.kind), encoded.blocks1, encoded.blocks2, encoded.sum1, encoded.sum2,
                encoded.file.size());
    return ToolOk;
}
