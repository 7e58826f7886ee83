// libFuzzer target: arbitrary bytes as the text source. What is accepted has every language for every text
// and can be written out and read back to the same entries.
#include <cstdlib>

#include "tools/lngc/text_source.h"

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString source =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    std::vector<TextEntry> entries;
    QString error;
    if (!ParseTextSource(source, QStringLiteral("fuzz"), entries, error)) {
        Require(error.startsWith(QStringLiteral("fuzz:")));
        return 0;
    }
    QString again;
    for (const TextEntry& e : entries) {
        Require(e.id >= 0 && e.texts.size() == std::size_t(kTextLanguages.size()));
        again += QStringLiteral("@%1 %2\n").arg(e.id).arg(e.name);
        for (const auto& [lang, text] : e.texts)
            again +=
                lang + QStringLiteral(": ") + QString(text).replace(QStringLiteral("\r\n"), "\\n") + '\n';
    }
    std::vector<TextEntry> read;
    Require(ParseTextSource(again, QStringLiteral("again"), read, error) && read.size() == entries.size());
    for (std::size_t i = 0; i < read.size(); ++i)
        Require(read[i].id == entries[i].id && read[i].name == entries[i].name &&
                read[i].texts == entries[i].texts);
    return 0;
}
