#include "app/command_line.h"

#include <QCommandLineParser>

#include "support/command_usage.h"

namespace {

// Windows cannot start the simulated DC, which answers on a Linux pseudo-terminal: there --simulate goes with
// the port a running one answers on (under Wine, a COM port linked to its terminal).
#ifdef Q_OS_WIN
constexpr bool kSimulatorOnGivenPort = true;
#else
constexpr bool kSimulatorOnGivenPort = false;
#endif

// Qt's own options: they reach QApplication unchanged and are no business of ours.
const QStringList kQtOptionsWithValue = {
    QStringLiteral("platform"),        QStringLiteral("platformpluginpath"),
    QStringLiteral("platformtheme"),   QStringLiteral("plugin"),
    QStringLiteral("qwindowgeometry"), QStringLiteral("qwindowicon"),
    QStringLiteral("qwindowtitle"),    QStringLiteral("display"),
    QStringLiteral("geometry"),        QStringLiteral("title"),
    QStringLiteral("style"),           QStringLiteral("stylesheet"),
    QStringLiteral("session")};
const QStringList kQtFlags = {QStringLiteral("reverse"), QStringLiteral("widgetcount"),
                              QStringLiteral("nograb"), QStringLiteral("dograb"), QStringLiteral("sync")};

// The arguments without Qt's options; the -platform value goes to *platform.
QStringList WithoutQtOptions(const QStringList& arguments, QString* platform) {
    QStringList ours;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (i == 0 || !arg.startsWith(u'-')) {
            ours << arg;
            continue;
        }
        QString name = arg.mid(arg.startsWith(QStringLiteral("--")) ? 2 : 1);
        QString value;
        const qsizetype equals = name.indexOf(u'=');
        if (equals >= 0) {
            value = name.mid(equals + 1);
            name.truncate(equals);
        }
        if (kQtFlags.contains(name) && equals < 0)
            continue;
        if (!kQtOptionsWithValue.contains(name)) {
            ours << arg;
            continue;
        }
        if (equals < 0 && i + 1 < arguments.size())
            value = arguments[++i];
        if (name == QLatin1String("platform"))
            *platform = value;
    }
    return ours;
}

// The program's options; --help lists them in this order.
struct OptionTable {
    QCommandLineOption cli, port, allCables, yes, appDir, firmware, simulate, simArgs, lang, log, trace,
        listPorts, identify, history, json, restoreProfile, replay, lenient, help, version, oldVersion,
        attemptFile;
};

// -v, the short form --version had at first: scripts may use it; help shows -V.
QCommandLineOption HiddenOption(const QString& name, const QString& valueName = {}) {
    QCommandLineOption option(name, QString(), valueName);
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    return option;
}

OptionTable MakeOptionTable() {
    return {
        QCommandLineOption(QStringLiteral("cli"), QStringLiteral("Run in the terminal instead of a window.")),
        QCommandLineOption(QStringLiteral("port"),
                           QStringLiteral("Use this serial device instead of searching for the cable; given "
                                          "several times (with --cli --yes), update the DCs on all at once."),
                           QStringLiteral("DEVICE")),
        QCommandLineOption(QStringLiteral("all-cables"),
                           QStringLiteral("With --cli --yes: update the DCs on every interface cable found, "
                                          "all at once, and print a summary.")),
        QCommandLineOption(
            QStringLiteral("yes"),
            QStringLiteral("With --cli: ask nothing. Next on the pages, Close after the update; a question "
                           "gets no answer (a profile backup that waits is kept for a later run).")),
        QCommandLineOption(
            QStringLiteral("app-dir"),
            QStringLiteral(
                "The application folder: firmware file, backup files, agreement file, all in this one "
                "folder (default: the executable's folder; installed, the data folder and, for backups, "
                "the user's own folder)."),
            QStringLiteral("DIR")),
        QCommandLineOption(
            QStringLiteral("firmware"),
            QStringLiteral("The firmware file to write (default: KAV.1F.FWR in the application folder; with "
                           "--simulate and no such file, the demo firmware KAV.1F.demo.FWR)."),
            QStringLiteral("FILE")),
        QCommandLineOption(
            QStringLiteral("simulate"),
            QString::fromLatin1(
                kSimulatorOnGivenPort
                    ? "Talk to the simulated DC (kav-dc-sim) that answers on the port --port names; the demo "
                      "firmware is written to no other DC."
                    : "Talk to the simulated DC (kav-dc-sim) instead of a cable; the demo firmware is "
                      "written "
                      "to no other DC.")),
        QCommandLineOption(
            QStringLiteral("sim-args"),
            QStringLiteral("Extra options for the simulated DC, such as faults (see kav-dc-sim --help)."),
            QStringLiteral("OPTIONS")),
        QCommandLineOption(QStringLiteral("lang"),
                           QStringLiteral("Language: en or 5000 English (the default), de or 6000 German, "
                                          "fr or 7000 French, it or 8000 Italian, es or 9000 Spanish."),
                           QStringLiteral("CODE")),
        QCommandLineOption(
            QStringLiteral("log"),
            QStringLiteral("Write the run log to this file (default: a new file in the user's log folder)."),
            QStringLiteral("FILE")),
        QCommandLineOption(QStringLiteral("trace"),
                           QStringLiteral("Add every byte sent to and received from the DC to the log as it "
                                          "passes, also on a successful update.")),
        QCommandLineOption(
            QStringLiteral("list-ports"),
            QStringLiteral("List the serial ports that could be the interface cable, with their "
                           "state, and end.")),
        QCommandLineOption(
            QStringLiteral("identify"),
            QStringLiteral("Identify the DC on the cable and say whether a backup of it waits to "
                           "be restored; nothing is written to the DC.")),
        QCommandLineOption(
            QStringLiteral("history"),
            QStringLiteral(
                "Print the update history, newest first, and end; a SERIAL argument keeps one DC's "
                "updates.")),
        QCommandLineOption(QStringLiteral("json"),
                           QStringLiteral("With --history: print it as a JSON array instead of a table.")),
        QCommandLineOption(
            QStringLiteral("restore-profile"),
            QStringLiteral("Write the profile in this backup file back into the DC it was taken from, in "
                           "the terminal, after a yes; the DC's present profile is kept in restored/ in the "
                           "backup folder first."),
            QStringLiteral("FILE")),
        QCommandLineOption(
            QStringLiteral("replay"),
            QStringLiteral(
                "Run again, in the terminal, the update in this run log (a failed update's log, or one "
                "written "
                "with --trace) against a simulated DC that answers as the DC in the log did, with the same "
                "firmware file (--firmware says where it is when it has moved) and the same answers; says "
                "whether the frames, rows and exit status are the log's (0), differ (1), or the log or the "
                "firmware file cannot be used (2)."),
            QStringLiteral("LOG")),
        QCommandLineOption(
            QStringLiteral("lenient"),
            QStringLiteral("With --replay: where a frame differs from the log, the simulated DC "
                           "answers from there on.")),
        HelpOption(),
        VersionOption(),
        HiddenOption(QStringLiteral("v")),
        HiddenOption(QStringLiteral("attempt-file"), QStringLiteral("FILE"))};
}

// 5000, 6000, 7000, 8000 or 9000, or the language's two letters in any case; nothing for any other text.
std::optional<int> LanguageCodeIn(const QString& text) {
    static const QStringList kLetters = {QStringLiteral("en"), QStringLiteral("de"), QStringLiteral("fr"),
                                         QStringLiteral("it"), QStringLiteral("es")};
    if (const qsizetype index = kLetters.indexOf(text.trimmed().toLower()); index >= 0)
        return 5000 + 1000 * int(index);
    bool ok = false;
    const int code = text.trimmed().toInt(&ok);
    if (!ok || code < 5000 || code > 9000 || code % 1000 != 0)
        return std::nullopt;
    return code;
}

// The first misuse among the parsed options; empty when there is none.
QString UsageError(const QCommandLineParser& parser, const OptionTable& o) {
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1)
        return QStringLiteral("unexpected argument '%1'").arg(positional[1]);
    if (!positional.isEmpty() && !parser.isSet(o.history) && parser.isSet(o.firmware))
        return QStringLiteral("two firmware files: '%1' and --firmware %2")
            .arg(positional[0], parser.value(o.firmware));
    if (parser.isSet(o.json) && !parser.isSet(o.history))
        return QStringLiteral("--json needs --history");
    if (parser.isSet(o.simulate) && !parser.value(o.port).isEmpty() && !kSimulatorOnGivenPort)
        return QStringLiteral("--simulate and --port exclude each other");
    if (parser.isSet(o.simulate) && parser.value(o.port).isEmpty() && kSimulatorOnGivenPort)
        return QStringLiteral(
            "--simulate needs --port COMn: the port the simulated DC (kav-dc-sim, run on "
            "Linux) answers on");
    if (parser.isSet(o.allCables) && (parser.isSet(o.port) || parser.isSet(o.simulate)))
        return QStringLiteral("--all-cables excludes --port and --simulate");
    const bool several = parser.isSet(o.allCables) || parser.values(o.port).size() > 1;
    if (several && !parser.isSet(o.yes))
        return QStringLiteral("several DCs need --yes");
    if ((several || parser.isSet(o.yes)) && !parser.isSet(o.cli))
        return QStringLiteral("--yes, --all-cables and several --port need --cli");
    if (parser.isSet(o.restoreProfile) && (parser.isSet(o.identify) || parser.isSet(o.listPorts)))
        return QStringLiteral("--restore-profile excludes --identify and --list-ports");
    if (parser.isSet(o.replay) &&
        (parser.isSet(o.simulate) || parser.isSet(o.yes) || parser.isSet(o.allCables) ||
         parser.values(o.port).size() > 1 || parser.isSet(o.identify) || parser.isSet(o.restoreProfile) ||
         parser.isSet(o.history) || parser.isSet(o.listPorts)))
        return QStringLiteral("--replay excludes --simulate, --yes and the other ways to run");
    if (parser.isSet(o.lenient) && !parser.isSet(o.replay))
        return QStringLiteral("--lenient needs --replay");
    if (parser.isSet(o.replay) && parser.value(o.port).isEmpty() && kSimulatorOnGivenPort)
        return QStringLiteral("--replay needs --port COMn: the port kav-dc-sim --replay answers on");
    if (parser.isSet(o.lang) && !LanguageCodeIn(parser.value(o.lang)))
        return QStringLiteral("--lang takes en, de, fr, it or es, or 5000, 6000, 7000, 8000 or 9000");
    return QString();
}

CommandLine OptionsFrom(const QCommandLineParser& parser, const OptionTable& o, const QString& platform) {
    CommandLine options;
    options.Cli = parser.isSet(o.cli);
    options.Port = parser.value(o.port);
    options.Ports = parser.values(o.port);
    options.AllCables = parser.isSet(o.allCables);
    options.Yes = parser.isSet(o.yes);
    options.AttemptFile = parser.value(o.attemptFile);
    options.AppDir = parser.value(o.appDir);
    // Without --history a file named alone is the firmware file: what a file manager's "open with" runs.
    options.Firmware = parser.isSet(o.history)
                           ? parser.value(o.firmware)
                           : parser.positionalArguments().value(0, parser.value(o.firmware));
    options.Simulate = parser.isSet(o.simulate);
    options.SimArgs = parser.value(o.simArgs);
    options.Log = parser.value(o.log);
    options.Trace = parser.isSet(o.trace);
    options.QtPlatform = platform;
    options.ListPorts = parser.isSet(o.listPorts);
    options.Identify = parser.isSet(o.identify);
    options.History = parser.isSet(o.history);
    options.Json = parser.isSet(o.json);
    options.HistorySerial = parser.positionalArguments().value(0);
    options.RestoreProfile = parser.value(o.restoreProfile);
    options.Replay = parser.value(o.replay);
    options.Lenient = parser.isSet(o.lenient);
    options.Help = parser.isSet(o.help);
    options.Version = parser.isSet(o.version) || parser.isSet(o.oldVersion);
    if (parser.isSet(o.lang))
        options.LanguageCode = LanguageCodeIn(parser.value(o.lang));
    return options;
}

}  // namespace

ParsedCommandLine ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Updates the firmware of a KAV 1F dive computer and keeps its profile safe."));
    const OptionTable o = MakeOptionTable();
    parser.addOptions(
        {o.cli,        o.port,           o.allCables, o.yes,     o.appDir,    o.firmware, o.simulate,
         o.simArgs,    o.lang,           o.log,       o.trace,   o.listPorts, o.identify, o.history,
         o.json,       o.restoreProfile, o.replay,    o.lenient, o.help,      o.version,  o.oldVersion,
         o.attemptFile});
    parser.addPositionalArgument(
        QStringLiteral("FILE"),
        QStringLiteral("A firmware file to write, as --firmware FILE names it (with --history: SERIAL)."),
        QStringLiteral("[FILE]"));

    ParsedCommandLine result;
    // Without an application object the parser knows no program name.
    result.helpText = HelpText(parser, QStringLiteral("kav-update"));
    QString platform;
    if (!parser.parse(WithoutQtOptions(arguments, &platform))) {
        result.error = ParserProblem(parser);
        return result;
    }
    result.error = UsageError(parser, o);
    if (result.error.isEmpty())
        result.options = OptionsFrom(parser, o, platform);
    return result;
}

bool WindowCanOpen(const QString& platform, const QString& display, const QString& waylandDisplay) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    if (platform.isEmpty())
        return !display.isEmpty() || !waylandDisplay.isEmpty();
    // A list ("wayland;xcb") is tried in order: one that can open is enough.
    for (const QString& entry : platform.split(u';', Qt::SkipEmptyParts)) {
        const QString name = entry.section(u':', 0, 0);
        if (name == QLatin1String("xcb")                ? !display.isEmpty()
            : name.startsWith(QLatin1String("wayland")) ? !waylandDisplay.isEmpty()
                                                        : true)  // offscreen, vnc, eglfs: no server needed
            return true;
    }
    return false;
#else
    Q_UNUSED(platform);
    Q_UNUSED(display);
    Q_UNUSED(waylandDisplay);
    return true;
#endif
}
