#include <QCommandLineParser>
#include <QFile>
#include <cstdio>

#include "support/command_usage.h"
#include "tools/fwr/fwr_encoder.h"
#include "tools/fwr/fwr_tool.h"

namespace {

struct PackOptions {
    QCommandLineOption out{"out", "Firmware file to write.", "FILE"};
    QCommandLineOption modelNumber{"model-number", "Model number (header bytes 0-1).", "N", "513"};
    QCommandLineOption fwVersion{"fw-version", "Firmware version, two characters.", "XX", "1B"};
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
    QCommandLineOption help = HelpOption();
};

// Reads option values; the first that does not fit is kept in `error`, and the command line is wrong.
struct ValueReader {
    const QCommandLineParser& p;
    QString error;

    bool Fail(const QString& problem) {
        error = problem;
        return false;
    }

    template <typename T>
    bool Number(const QCommandLineOption& o, unsigned min, unsigned max, T& out) {
        const auto value = ParseNumber(p.value(o), max);
        if (!value || *value < min)
            return Fail(QStringLiteral("--%1 wants a number %2..%3, not \"%4\"")
                            .arg(o.names().first())
                            .arg(min)
                            .arg(max)
                            .arg(p.value(o)));
        out = static_cast<T>(*value);
        return true;
    }

    template <typename T>
    bool OptionalNumber(const QCommandLineOption& o, unsigned max, std::optional<T>& out) {
        if (!p.isSet(o))
            return true;
        T value{};
        if (!Number(o, 0, max, value))
            return false;
        out = value;
        return true;
    }

    bool Text(const QCommandLineOption& o, std::string& out) {
        const auto ansi = ToAnsi(p.value(o));
        if (!ansi)
            return Fail(QStringLiteral("--%1 has a character outside the Windows ANSI code page")
                            .arg(o.names().first()));
        out = *ansi;
        return true;
    }
};

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

// The header values and the generated image; false on a value that does not fit.
bool ReadHeaderOptions(ValueReader& r, const PackOptions& o, fwr::EncodeInput& in) {
    const QCommandLineParser& p = r.p;
    if (!r.Number(o.modelNumber, 0, 0xFFFF, in.modelNumber) ||
        !r.Number(o.subVersion, 0, 255, in.subVersion) || !r.Number(o.memory, 1, 0xFFFF, in.memorySize) ||
        !r.Number(o.code2Parameter, 0, 0xFFFF, in.code2Parameter) ||
        !r.Number(o.firstWord, 0, fwr::kMaxBlockWord, in.firstWord1) ||
        !r.OptionalNumber(o.firstWord2, fwr::kMaxBlockWord, in.firstWord2) ||
        !r.OptionalNumber(o.checksum, 0xFFFF, in.checksum1) ||
        !r.OptionalNumber(o.checksum2, 0xFFFF, in.checksum2) ||
        !r.OptionalNumber(o.kindSelector, 0xFFFF, in.kindSelector))
        return false;
    if (!r.Text(o.fwVersion, in.version) || !r.Text(o.name, in.modelName) || !r.Text(o.id, in.modelId))
        return false;
    if (in.version.size() != 2)
        return r.Fail(QStringLiteral("--fw-version wants exactly two characters"));
    if (p.isSet(o.seed)) {
        bool ok = false;
        in.seed = p.value(o.seed).toULongLong(&ok, 0);
        if (!ok)
            return r.Fail(QStringLiteral("--seed wants a number"));
    }
    if (p.isSet(o.key)) {
        in.key = ParseKey(p.value(o.key));
        if (!in.key)
            return r.Fail(QStringLiteral("--key wants 16 hex digits"));
    }
    const QString rule = p.value(o.recordKey);
    in.recordKeyRule = rule == QLatin1String("sum")      ? fwr::RecordKeyRule::DataSum
                       : rule == QLatin1String("random") ? fwr::RecordKeyRule::Random
                                                         : fwr::RecordKeyRule::Fixed;
    if (in.recordKeyRule == fwr::RecordKeyRule::Fixed && !r.Number(o.recordKey, 0, 255, in.recordKey))
        return false;
    return true;
}

// Which images and block words the command line asks for; false when they do not go together.
bool CheckImageOptions(ValueReader& r, const PackOptions& o, fwr::EncodeInput& in) {
    const QCommandLineParser& p = r.p;
    if (p.isSet(o.image) && p.isSet(o.demoImage))
        return r.Fail(QStringLiteral("give --image or --demo-image, not both"));
    if (!p.isSet(o.image) && !p.isSet(o.image2) && !p.isSet(o.demoImage))
        return r.Fail(QStringLiteral("give --image, --image2 or --demo-image"));
    if (p.isSet(o.words) && (p.isSet(o.firstWord) || p.isSet(o.firstWord2)))
        return r.Fail(QStringLiteral("give --words or --first-word, not both"));
    if (p.isSet(o.demoImage)) {
        int blocks = 0;
        if (!r.Number(o.demoImage, 0, fwr::kMaxBlocks, blocks))
            return false;
        in.image1 = DemoImage(blocks);
        in.demoMark = true;
    }
    return true;
}

// The image files and the block words file; false after saying which could not be read or does not fit.
bool ReadInputFiles(const QCommandLineParser& p, const PackOptions& o, fwr::EncodeInput& in) {
    QString error;
    for (const auto& [option, image] : {std::pair{&o.image, &in.image1}, {&o.image2, &in.image2}}) {
        if (!p.isSet(*option))
            continue;
        *image = ReadBinary(p.value(*option), error);
        if (!*image) {
            PrintError(error);
            return false;
        }
    }
    if (!p.isSet(o.words))
        return true;
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
    return true;
}

}  // namespace

int RunPack(const QStringList& arguments) {
    const QString command = QStringLiteral("kav-fwr pack");
    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral("Builds a scrambled firmware file from one or two code images."));
    const PackOptions o;
    for (const QCommandLineOption* option :
         {&o.out,        &o.modelNumber, &o.fwVersion,    &o.subVersion, &o.memory,         &o.name,
          &o.id,         &o.image,       &o.image2,       &o.demoImage,  &o.code2Parameter, &o.firstWord,
          &o.firstWord2, &o.words,       &o.key,          &o.recordKey,  &o.seed,           &o.checksum,
          &o.checksum2,  &o.badChecksum, &o.kindSelector, &o.help})
        p.addOption(*option);
    if (!p.parse(arguments))
        return ReportUsageError(command, ParserProblem(p));
    if (p.isSet(o.help)) {
        std::fputs(qPrintable(HelpText(p, command)), stdout);
        return ToolOk;
    }
    if (!p.positionalArguments().isEmpty())
        return ReportUsageError(
            command, QStringLiteral("unexpected argument '%1'").arg(p.positionalArguments().first()));
    if (!p.isSet(o.out))
        return ReportUsageError(command, QStringLiteral("--out FILE is missing"));
    fwr::EncodeInput in;
    ValueReader values{p, {}};
    if (!ReadHeaderOptions(values, o, in) || !CheckImageOptions(values, o, in))
        return ReportUsageError(command, values.error);
    if (!ReadInputFiles(p, o, in))
        return ToolFileBad;
    if (p.isSet(o.badChecksum))
        in.checksumOffset = 1;
    const fwr::Encoded encoded = fwr::Encode(in);
    if (!encoded.ok)
        return ReportUsageError(command, QString::fromStdString(encoded.error));
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
