#include "app/command_line.h"

#include <QCommandLineParser>

ParsedCommandLine ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Updates the firmware of a KAV 1F dive computer and keeps its profile safe."));
    const QCommandLineOption cli(QStringLiteral("cli"),
                                 QStringLiteral("Run in the terminal instead of a window."));
    const QCommandLineOption port(
        QStringLiteral("port"), QStringLiteral("Use this serial device instead of searching for the cable."),
        QStringLiteral("DEVICE"));
    const QCommandLineOption appDir(
        QStringLiteral("app-dir"),
        QStringLiteral(
            "The application folder: firmware file, backup files, agreement file, all in this one "
            "folder (default: the executable's folder; installed, the data folder and, for backups, "
            "the user's own folder)."),
        QStringLiteral("DIR"));
    const QCommandLineOption firmware(QStringLiteral("firmware"),
                                      QStringLiteral("The firmware file to write."), QStringLiteral("FILE"));
    const QCommandLineOption simulate(
        QStringLiteral("simulate"),
        QStringLiteral("Talk to the simulated DC (kav-dc-sim) instead of a cable."));
    const QCommandLineOption simArgs(
        QStringLiteral("sim-args"),
        QStringLiteral("Extra options for the simulated DC, such as faults (see kav-dc-sim --help)."),
        QStringLiteral("OPTIONS"));
    const QCommandLineOption lang(
        QStringLiteral("lang"),
        QStringLiteral("Language code: 5000 English, 6000 German, 7000 French, 8000 "
                       "Italian, 9000 Spanish."),
        QStringLiteral("CODE"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the program's version."));
    parser.addOptions({cli, port, appDir, firmware, simulate, simArgs, lang, help, version});

    ParsedCommandLine result;
    result.helpText = parser.helpText();
    if (!parser.parse(arguments)) {
        result.error = parser.errorText();
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.error = QStringLiteral("Unexpected argument: ") + parser.positionalArguments().first();
        return result;
    }
    CommandLine options;
    options.Cli = parser.isSet(cli);
    options.Port = parser.value(port);
    options.AppDir = parser.value(appDir);
    options.Firmware = parser.value(firmware);
    options.Simulate = parser.isSet(simulate);
    options.SimArgs = parser.value(simArgs);
    if (options.Simulate && !options.Port.isEmpty()) {
        result.error = QStringLiteral("--simulate and --port exclude each other");
        return result;
    }
    options.Help = parser.isSet(help);
    options.Version = parser.isSet(version);
    if (parser.isSet(lang)) {
        bool ok = false;
        const double code = parser.value(lang).toDouble(&ok);
        if (!ok) {
            result.error = QStringLiteral("--lang needs a number, such as 5000");
            return result;
        }
        options.LanguageCode = code;
    }
    result.options = options;
    return result;
}
