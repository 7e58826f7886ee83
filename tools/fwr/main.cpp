// kav-fwr: packs, inspects and unpacks firmware files for the update wizard.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

#include "support/command_usage.h"
#include "tools/fwr/fwr_tool.h"

namespace {

constexpr const char* kDescription =
    "Builds, inspects and unpacks the firmware files of the KAV 1F dive computer.\n"
    "\n"
    "Commands:\n"
    "  pack --out FILE [options]  Build a firmware file from one or two code images.\n"
    "  inspect FILE               Print what the file holds; exit 0 when it loads and its checksums hold.\n"
    "  unpack FILE --out DIR      Write its images and block words into DIR.";

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kav-fwr"));
    const QString program = QStringLiteral("kav-fwr");
    QCommandLineParser p;
    p.setApplicationDescription(QString::fromLatin1(kDescription));
    const QCommandLineOption help = HelpOption(), version = VersionOption();
    p.addOptions({help, version});
    p.addPositionalArgument(
        QStringLiteral("COMMAND"),
        QStringLiteral("pack, inspect or unpack; kav-fwr COMMAND --help lists its options."),
        QStringLiteral("COMMAND ..."));
    // What follows the command is the command's own.
    p.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    if (!p.parse(QCoreApplication::arguments()))
        return ReportUsageError(program, ParserProblem(p));
    QStringList arguments = p.positionalArguments();
    const QString command = arguments.value(0);
    if (p.isSet(help) || command == QLatin1String("help")) {
        std::fputs(qPrintable(HelpText(p, program)), stdout);
        return ToolOk;
    }
    if (p.isSet(version))
        return ReportVersion(program);
    if (command.isEmpty())
        return ReportUsageError(program, QStringLiteral("COMMAND is missing"));
    arguments[0] = QCoreApplication::arguments().constFirst();  // the command's parser wants a program name
    if (command == QLatin1String("pack"))
        return RunPack(arguments);
    if (command == QLatin1String("inspect"))
        return RunInspect(arguments);
    if (command == QLatin1String("unpack"))
        return RunUnpack(arguments);
    return ReportUsageError(program, QStringLiteral("unknown command '%1'").arg(command));
}
