// kav-update: the firmware update wizard, in a window or (--cli) in the terminal.
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QLibraryInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>
#include <cstdio>
#include <iostream>
#include <sstream>

#include "app/command_line.h"
#include "app/history_command.h"
#include "app/identify_command.h"
#include "app/list_ports.h"
#include "app/parallel_update.h"
#include "app/replay_command.h"
#include "app/restore_profile_command.h"
#include "app/terminal_signals.h"
#include "app/window_wiring.h"
#include "app/wizard_assembly.h"
#include "support/app_folders.h"
#include "support/command_usage.h"
#include "support/console.h"
#include "support/language.h"
#include "wizard/front/terminal_view.h"

namespace {

// The standard buttons of the boxes (OK, Cancel, Yes, No) in the language the wizard's texts are shown in.
void InstallButtonTranslations(QCoreApplication& app, QTranslator& translator, const CommandLine& cl) {
    static const char* const kLanguages[] = {"en", "de", "fr", "it", "es"};
    const int column = cl.LanguageCode
                           ? LanguageColumnForCode(*cl.LanguageCode)
                           : ParseStartupSettings(LoadStringResource(ResourceStartup)).languageColumn;
    if (column < 1 || column > 5)
        return;
    if (translator.load(QStringLiteral("qtbase_") + QLatin1String(kLanguages[column - 1]),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        app.installTranslator(&translator);
    }
}

// --log FILE, else a new file in the user's log folder. A log that cannot be written stops nothing.
void OpenRunLog(RunLog& log, const CommandLine& cl) {
    const QString folder = RunLogFolder();
    const QString path = !cl.Log.isEmpty()  ? QDir::current().absoluteFilePath(cl.Log)
                         : folder.isEmpty() ? QString()
                                            : NewLogPath(folder, QDateTime::currentDateTime());
    QString error = QStringLiteral("no folder for logs");
    if (path.isEmpty() || !log.Open(path, &error)) {
        std::fprintf(stderr, "kav-update: no run log (%s: %s)\n", qPrintable(QDir::toNativeSeparators(path)),
                     qPrintable(error));
        return;
    }
    log.Write(QStringLiteral("kav-update %1, Qt %2, %3")
                  .arg(KAV_VERSION, qVersion(), QSysInfo::prettyProductName()));
    log.Write(QStringLiteral("command line: ") + QCoreApplication::arguments().join(u' '));
}

void SayWhereTheLogIs(const RunLog& log, int status) {
    if (status == ExitUpdateFailed && log.IsOpen())
        std::fprintf(stderr, "kav-update: the update failed; the log of this run is %s\n",
                     qPrintable(QDir::toNativeSeparators(log.Path())));
}

int RunWindow(int argc, char** argv, const CommandLine& cl) {
    const QString platform =
        cl.QtPlatform.isEmpty() ? qEnvironmentVariable("QT_QPA_PLATFORM") : cl.QtPlatform;
    if (!WindowCanOpen(platform, qEnvironmentVariable("DISPLAY"), qEnvironmentVariable("WAYLAND_DISPLAY"))) {
        std::fputs("kav-update: no display: use --cli\n", stderr);
        return ExitStartupEnded;
    }
    LeaveOwnConsole();
    QApplication app(argc, argv);
    // The desktop matches the window to the installed desktop file, and so shows its name and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.kavdive.FirmwareUpdate"));
    QTranslator translator;
    InstallButtonTranslations(app, translator, cl);
    SystemClock clock;
    RunLog log(clock);
    OpenRunLog(log, cl);
    WizardWindow window;
    WizardAssembly wizard(window, cl, log);
    StageMachine& machine = wizard.machine;
    WireWindow(window, wizard);
    if (!wizard.Load())
        return wizard.Finish(machine.ExitCode());
    window.SetAccessibleTexts(wizard.texts);
    window.show();
    app.exec();
    SayWhereTheLogIs(log, machine.ExitCode());
    return wizard.Finish(machine.ExitCode());
}

// Questions follow the input: a person answers them even while the output goes into a pipe.
TerminalSetup StandardTerminal() {
    const bool outputIsTerminal = OutputIsTerminal();
    TerminalSetup setup;
    setup.prompts = InputIsTerminal() ? (outputIsTerminal ? &std::cout : &std::cerr) : nullptr;
    setup.errors = &std::cerr;
    setup.live = outputIsTerminal;
    setup.columns = TerminalColumns;
    setup.terminalInput = InputIsTerminal() ? kStandardInput : -1;
    return setup;
}

// --attempt-file: what the parent of a several-DC run shows of this one in its summary.
void WriteAttemptFile(const CommandLine& cl, const StageMachine& machine) {
    if (cl.AttemptFile.isEmpty() || !machine.LastAttempt())
        return;
    QFile file(cl.AttemptFile);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(QJsonDocument(machine.LastAttempt()->ToJson()).toJson(QJsonDocument::Compact)) < 0)
        std::fprintf(stderr, "kav-update: cannot write %s\n", qPrintable(cl.AttemptFile));
}

int RunTerminal(int argc, char** argv, const CommandLine& cl) {
    // Qt's own event dispatcher rather than GLib's, unless the user chose: each reply reaches the link some
    // microseconds sooner. The window keeps GLib's, which desktop integrations may rely on.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    SystemClock clock;
    RunLog log(clock);
    OpenRunLog(log, cl);
    TerminalSetup setup = StandardTerminal();
    if (cl.Yes) {
        setup.prompts = nullptr;
        setup.terminalInput = -1;
        setup.decideAlone = true;
    }
    TerminalView view(std::cin, std::cout, setup);
    WizardAssembly wizard(view, cl, log);
    // The person at the terminal hears it too: a cable that holds replies back makes every transfer slow.
    wizard.OnPortLatency = [](const QString& line) { std::fprintf(stderr, "%s\n", qPrintable(line)); };
    TerminalSignals stopSignals(wizard);
    view.AwaitInput = [&stopSignals] { return stopSignals.AwaitInput(kStandardInput); };
    const bool loaded = wizard.Load();
    const int status =
        RunTerminalWizard(wizard.machine, view, loaded, [&wizard](const char* word) { wizard.Decide(word); });
    WriteAttemptFile(cl, wizard.machine);
    return wizard.Finish(status);
}

// --restore-profile: in the terminal, window mode or not; its one question is a Yes/No box.
int RunRestoreProfileOnly(int argc, char** argv, const CommandLine& cl) {
    QCoreApplication app(argc, argv);
    SystemClock clock;
    RunLog log(clock);
    OpenRunLog(log, cl);
    TerminalView view(std::cin, std::cout, StandardTerminal());
    WizardAssembly wizard(view, cl, log);
    wizard.OnPortLatency = [](const QString& line) { std::fprintf(stderr, "%s\n", qPrintable(line)); };
    return wizard.Finish(RunRestoreProfile(wizard, cl));
}

// --replay: the log's update again against a DC that answers as in the log, then how it compares.
int RunReplay(int argc, char** argv, const CommandLine& cl) {
    QCoreApplication app(argc, argv);
    QTemporaryDir scratch;
    QString why;
    std::optional<ReplayPlan> plan = PlanReplay(cl, scratch.path(), &why);
    if (!plan) {
        std::fprintf(stderr, "kav-update: cannot replay %s: %s\n",
                     qPrintable(QDir::toNativeSeparators(cl.Replay)), qPrintable(why));
        return ExitStartupEnded;
    }
    SystemClock clock;
    RunLog log(clock);
    OpenRunLog(log, plan->commandLine);
    std::istringstream input(plan->input);
    TerminalSetup setup;
    setup.errors = &std::cerr;
    TerminalView view(input, std::cout, setup);
    WizardAssembly wizard(view, plan->commandLine, log);
    ReplayPlan::WirePoint now;
    wizard.tracer.Passed = [&](bool sent, std::size_t bytes) {
        sent ? ++now.frames : now.bytes += bytes;
        for (; !plan->closes.empty() && plan->closes.front().at.ReachedBy(now); plan->closes.pop_front()) {
            // In the next pass of the event loop, as a click or a signal comes.
            QTimer::singleShot(0, &app, [&wizard, signal = plan->closes.front().signal] {
                if (signal) {
                    wizard.log.Write(QStringLiteral("decision: close by signal 2, while the DC is busy"));
                    wizard.machine.CloseConfirmed();
                } else {
                    wizard.Decide("close");
                    wizard.machine.CloseClick();
                }
            });
        }
    };
    const bool loaded = wizard.Load();
    // Taken while the texts are open (Close closes them): an empty text would exempt every "+ " row.
    const QString logText = wizard.texts.GetText(Txt::LogLocation).section(u'%', 0, 0);
    const QString logRowPrefix = logText.isEmpty() ? QString() : QStringLiteral("+ ") + logText;
    RunTerminalWizard(wizard.machine, view, loaded, [&wizard](const char* word) { wizard.Decide(word); });
    wizard.Finish(wizard.machine.ExitCode());
    auto* simulator = dynamic_cast<SimulatorCableFinder*>(wizard.finder.get());
    const std::optional<int> dcVerdict = simulator != nullptr ? simulator->End() : std::nullopt;
    const std::optional<RecordedRun> again = ReadRunLog(log.Path(), &why);
    const QString difference =
        !again ? why : ReplayDifference(plan->recorded, *again, logRowPrefix, dcVerdict);
    if (!difference.isEmpty()) {
        std::fprintf(stderr, "kav-update: the replay differs from the log: %s\n", qPrintable(difference));
        return 1;
    }
    std::fprintf(stderr,
                 "kav-update: the replay is the log's run: the same frames, %lld rows and exit status %d\n",
                 static_cast<long long>(again->rows.size()), again->exitStatus.value_or(-1));
    return 0;
}

// --identify: no window and no questions; a box that offers to try again meets no answer and gives up.
int RunIdentifyOnly(int argc, char** argv, const CommandLine& cl) {
    QCoreApplication app(argc, argv);
    SystemClock clock;
    RunLog log(clock);
    OpenRunLog(log, cl);
    std::istringstream noAnswers;
    TerminalSetup setup;
    setup.errors = &std::cerr;
    TerminalView view(noAnswers, std::cerr, setup);
    WizardAssembly wizard(view, cl, log);
    wizard.OnPortLatency = [](const QString& line) { std::fprintf(stderr, "%s\n", qPrintable(line)); };
    return wizard.Finish(RunIdentify(wizard, cl, std::cout));
}

}  // namespace

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const ParsedCommandLine parsed = ParseCommandLine(arguments);
    if (!parsed.options) {
        ReportUsageError(QStringLiteral("kav-update"), parsed.error);
        return ExitStartupEnded;
    }
    const CommandLine& cl = *parsed.options;
    if (cl.Help) {
        std::fputs(qPrintable(parsed.helpText), stdout);
        return 0;
    }
    if (cl.Version)
        return ReportVersion(QStringLiteral("kav-update"));
    QCoreApplication::setApplicationName(QStringLiteral("kav-update"));
    if (cl.ListPorts)
        return ListPorts(OsPortSystem(), std::cout, std::cerr);
    if (cl.Identify)
        return RunIdentifyOnly(argc, argv, cl);
    if (cl.History) {
        QCoreApplication app(argc, argv);
        return PrintHistory(HistoryFileIn(UserFoldersFor(cl).UserDir), cl.HistorySerial, cl.Json, std::cout,
                            std::cerr);
    }
    if (!cl.RestoreProfile.isEmpty())
        return RunRestoreProfileOnly(argc, argv, cl);
    if (!cl.Replay.isEmpty())
        return RunReplay(argc, argv, cl);
    if (SeveralDcs(cl)) {
        QCoreApplication app(argc, argv);
        return RunParallelUpdate(cl, std::cout, std::cerr);
    }
    return cl.Cli ? RunTerminal(argc, argv, cl) : RunWindow(argc, argv, cl);
}
