#include <QFile>
#include <QRegularExpression>
#include <cstdio>

#include "firmware/fwr_format.h"
#include "support/ansi_text.h"
#include "tools/fwr/fwr_tool.h"

std::optional<unsigned> ParseNumber(const QString& text, unsigned max) {
    bool ok = false;
    const QString t = text.trimmed();
    // No octal: a leading zero is decimal.
    const qulonglong value = t.startsWith(QStringLiteral("0x"), Qt::CaseInsensitive)
                                 ? t.mid(2).toULongLong(&ok, 16)
                                 : t.toULongLong(&ok, 10);
    if (!ok || value > max)
        return std::nullopt;
    return static_cast<unsigned>(value);
}

std::optional<std::vector<std::uint16_t>> ParseWordList(const QString& text, QString& error) {
    std::vector<std::uint16_t> words;
    static const QRegularExpression separators(QStringLiteral("[\\s,]+"));
    for (const QString& item : text.split(separators, Qt::SkipEmptyParts)) {
        const auto value = ParseNumber(item, 0xFFFF);
        if (!value) {
            error = QStringLiteral("not a block word: %1").arg(item);
            return std::nullopt;
        }
        words.push_back(static_cast<std::uint16_t>(*value));
    }
    return words;
}

std::optional<std::vector<std::uint8_t>> ReadBinary(const QString& path, QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot open %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

bool WriteBinary(const QString& path, const std::vector<std::uint8_t>& bytes, QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size())) !=
            static_cast<qint64>(bytes.size())) {
        error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

std::optional<std::string> ToAnsi(const QString& text) {
    std::string bytes;
    for (const char32_t c : text.toUcs4()) {
        const auto b = UnicodeToAnsi(c);
        if (!b)
            return std::nullopt;
        bytes.push_back(static_cast<char>(*b));
    }
    return bytes;
}

QString FromAnsi(const std::string& bytes) {
    return ::FromAnsi(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

std::vector<std::uint8_t> DemoImage(int blocks) {
    std::vector<std::uint8_t> image(static_cast<std::size_t>(blocks) * fwr::kBlockSize);
    // A varied but reproducible pattern: every block differs, so misplaced blocks show.
    std::uint32_t state = 0x1F0B05u;
    for (std::uint8_t& b : image) {
        state = state * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(state >> 16);
    }
    static constexpr char kBanner[] = "KAV 1F demo firmware";
    for (std::size_t i = 0; i + 1 < sizeof kBanner && i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(kBanner[i]);
    return image;
}

void PrintError(const QString& message) {
    std::fprintf(stderr, "kav-fwr: %s\n", qPrintable(message));
}
