#include "support/command_usage.h"

#include <QCommandLineParser>
#include <cstdio>

QCommandLineOption HelpOption() {
    return QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")},
                              QStringLiteral("Show this help."));
}

QCommandLineOption VersionOption() {
    return QCommandLineOption({QStringLiteral("V"), QStringLiteral("version")},
                              QStringLiteral("Show the program's version."));
}

int ReportUsageError(const QString& command, const QString& problem) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n",
                 qPrintable(command.section(u' ', 0, 0)), qPrintable(problem), qPrintable(command));
    return kUsageExitStatus;
}

QString ParserProblem(const QCommandLineParser& parser) {
    QString text = parser.errorText();
    if (text.endsWith(u'.'))
        text.chop(1);
    if (!text.isEmpty())
        text[0] = text[0].toLower();
    return text;
}

QString HelpText(const QCommandLineParser& parser, const QString& command) {
    QString text = parser.helpText();
    // "Usage: <argv[0]> [options] ...": every program here has options.
    const qsizetype end = text.indexOf(QLatin1String(" [options]"));
    if (end >= 0 && end < text.indexOf(u'\n'))
        text.replace(0, end, QStringLiteral("Usage: ") + command);
    return text;
}

int ReportVersion(const QString& program) {
    std::printf("%s %s\n", qPrintable(program), KAV_VERSION);
    return 0;
}
