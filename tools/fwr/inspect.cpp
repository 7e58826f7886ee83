#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <cstdio>

#include "firmware/fwr_format.h"
#include "support/command_usage.h"
#include "tools/fwr/fwr_tool.h"

namespace {

// Parses `kav-fwr COMMAND FILE [options]`; false after reporting a usage error or printing the help.
bool ParseFileCommand(QCommandLineParser& p, const QStringList& arguments, const QString& command,
                      int& exit) {
    const QCommandLineOption help = HelpOption();
    p.addOption(help);
    p.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The firmware file."));
    exit = ToolUsage;
    if (!p.parse(arguments)) {
        ReportUsageError(command, ParserProblem(p));
        return false;
    }
    if (p.isSet(help)) {
        std::fputs(qPrintable(HelpText(p, command)), stdout);
        exit = ToolOk;
        return false;
    }
    const QStringList files = p.positionalArguments();
    if (files.size() != 1) {
        ReportUsageError(command, files.isEmpty() ? QStringLiteral("FILE is missing")
                                                  : QStringLiteral("unexpected argument '%1'").arg(files[1]));
        return false;
    }
    return true;
}

QString Quoted(const std::string& ansi) {
    return u'"' + FromAnsi(ansi) + u'"';
}

void PrintImage(const char* label, const std::vector<BlockRow>& rows, int count, std::int32_t checksum,
                std::int32_t sum) {
    std::printf("%-16s %d blocks", label, count);
    if (!rows.empty())
        std::printf(", words 0x%04X..0x%04X", static_cast<unsigned>(rows.front()[0]),
                    static_cast<unsigned>(rows.back()[0]));
    std::printf(", checksum 0x%04X, sum 0x%04X (%s)\n", static_cast<unsigned>(checksum),
                static_cast<unsigned>(sum), checksum == sum ? "holds" : "differs");
}

}  // namespace

int RunInspect(const QStringList& arguments) {
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("Prints what a firmware file holds and whether it loads."));
    int exit = ToolOk;
    if (!ParseFileCommand(p, arguments, QStringLiteral("kav-fwr inspect"), exit))
        return exit;
    const QString path = p.positionalArguments().first();
    QString error;
    const auto file = ReadBinary(path, error);
    if (!file) {
        PrintError(error);
        return ToolFileBad;
    }
    const fwr::Decoded d = fwr::Decode(*file);
    std::printf("%-16s %s (%zu bytes, %zu records)\n", "file:", qPrintable(path), file->size(),
                file->size() / fwr::kRecordSize);
    if (d.headerRead) {
        const fwr::Header& h = d.header;
        std::printf("%-16s %u\n", "model number:", h.modelNumber);
        std::printf("%-16s %s\n", "version:", qPrintable(FromAnsi(h.version)));
        std::printf("%-16s %u\n", "sub-version:", h.subVersion);
        std::printf("%-16s %u\n", "memory size:", h.memorySize);
        std::printf("%-16s %s\n", "model name:", qPrintable(Quoted(h.modelName)));
        std::printf("%-16s %s\n", "model id:", qPrintable(Quoted(h.modelId)));
        std::printf("%-16s", "key:");
        for (const std::uint8_t b : h.key)
            std::printf(" %02X", b);
        std::printf("\n%-16s %u / %u, selector %u\n", "block counts:", h.count1, h.count2, h.kindSelector);
        std::printf("%-16s %u\n", "code2 parameter:", h.code2Parameter);
        if (h.demo)
            std::printf(
                "%-16s the demo firmware, for the simulated DC (kav-dc-sim) only; kav-update refuses "
                "it for a real DC\n",
                "demo:");
    }
    if (!d.Ok()) {
        std::printf("%-16s rejected: %s\n", "result:", d.message.c_str());
        return ToolFileBad;
    }
    std::printf("%-16s %s\n", "kind:", fwr::KindName(d.kind));
    if (d.kind != fwr::Kind::Code2Only)
        PrintImage("first image:", d.codeBlocks, d.codeBlockCount, d.codeChecksum, d.codeSum);
    if (d.kind != fwr::Kind::CodeOnly)
        PrintImage("second image:", d.code2Blocks, d.code2BlockCount, d.code2Checksum, d.code2Sum);
    if (d.emptyStringCode != 0) {
        std::printf("%-16s rejected: empty model %s (code %d)\n",
                    "result:", d.emptyStringCode == 4 ? "name" : "identifier", d.emptyStringCode);
        return ToolFileBad;
    }
    if (const int failure = fwr::ChecksumFailure(d); failure != 0) {
        std::printf("%-16s rejected: check sum error %d\n", "result:", failure);
        return ToolFileBad;
    }
    std::printf("%-16s loads; checksums hold\n", "result:");
    return ToolOk;
}

int RunUnpack(const QStringList& arguments) {
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Writes the decoded images as image1.bin / image2.bin and their block words as words.txt "
        "(the form pack --words reads)."));
    const QCommandLineOption out(QStringLiteral("out"), QStringLiteral("Folder to write into."),
                                 QStringLiteral("DIR"));
    p.addOption(out);
    int exit = ToolOk;
    if (!ParseFileCommand(p, arguments, QStringLiteral("kav-fwr unpack"), exit))
        return exit;
    if (!p.isSet(out))
        return ReportUsageError(QStringLiteral("kav-fwr unpack"), QStringLiteral("--out DIR is missing"));
    QString error;
    const auto file = ReadBinary(p.positionalArguments().first(), error);
    if (!file) {
        PrintError(error);
        return ToolFileBad;
    }
    const fwr::Decoded d = fwr::Decode(*file);
    if (!d.Ok()) {
        PrintError(QString::fromStdString(d.message));
        return ToolFileBad;
    }
    if (d.emptyStringCode != 0 || fwr::ChecksumFailure(d) != 0)
        PrintError(QStringLiteral("warning: the wizard would reject this file (see kav-fwr inspect)"));

    const QDir dir(p.value(out));
    if (!dir.mkpath(QStringLiteral("."))) {
        PrintError(QStringLiteral("cannot create %1").arg(dir.path()));
        return ToolFileBad;
    }
    QString words;
    for (const auto& [rows, name, present] :
         {std::tuple{&d.codeBlocks, "image1.bin", d.kind != fwr::Kind::Code2Only},
          {&d.code2Blocks, "image2.bin", d.kind != fwr::Kind::CodeOnly}}) {
        if (!present)
            continue;
        std::vector<std::uint8_t> image;
        for (const BlockRow& row : *rows) {
            for (std::size_t c = 1; c <= fwr::kBlockSize; ++c)
                image.push_back(static_cast<std::uint8_t>(row[c]));
            words += QStringLiteral("0x%1\n").arg(static_cast<unsigned>(row[0]), 4, 16, QLatin1Char('0'));
        }
        if (!WriteBinary(dir.filePath(QLatin1String(name)), image, error)) {
            PrintError(error);
            return ToolFileBad;
        }
        std::printf("%s: %zu blocks\n", qPrintable(dir.filePath(QLatin1String(name))), rows->size());
    }
    const QByteArray wordText = words.toUtf8();
    if (!WriteBinary(dir.filePath(QStringLiteral("words.txt")),
                     std::vector<std::uint8_t>(wordText.begin(), wordText.end()), error)) {
        PrintError(error);
        return ToolFileBad;
    }
    return ToolOk;
}
