// libFuzzer target: arbitrary arguments (the input split at NUL bytes) after the program name. Every command
// line is either taken, with a language code that selects a column without undefined arithmetic, or refused
// with a reason.
#include <QByteArrayList>
#include <cstdlib>

#include "app/command_line.h"
#include "support/language.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QStringList arguments{QStringLiteral("kav-update")};
    for (const QByteArray& a : QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)).split('\0'))
        arguments << QString::fromUtf8(a);
    const ParsedCommandLine parsed = ParseCommandLine(arguments);
    if (parsed.options.has_value() == !parsed.error.isEmpty() || parsed.helpText.isEmpty())
        std::abort();
    if (parsed.options && parsed.options->LanguageCode)
        LanguageColumnForCode(*parsed.options->LanguageCode);
    return 0;
}
