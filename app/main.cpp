// kav-update: the firmware update wizard, in a window or (--cli) in the terminal.
#include <unistd.h>
#include <QApplication>
#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <cstdio>
#include <iostream>

#include "app/command_line.h"
#include "app/wizard_assembly.h"
#include "support/language.h"
#include "wizard/front/agreement_printer.h"
#include "wizard/front/mfu_main.h"
#include "wizard/front/terminal_view.h"

namespace {

// The standard buttons of the boxes (OK, Cancel, Yes, No) in the language the wizard's texts are shown in.
void InstallButtonTranslations(QCoreApplication& app, QTranslator& translator, const CommandLine& cl) {
    static const char* const kLanguages[] = {"en", "de", "fr", "it", "es"};
    const int column = cl.LanguageCode
                           ? LanguageColumnForCode(*cl.LanguageCode)
                           : LanguageColumnFromResource(LoadStringResource(ResourceStartup).split('|'));
    if (column < 1 || column > 5)
        return;
    if (translator.load(QStringLiteral("qtbase_") + QLatin1String(kLanguages[column - 1]),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        app.installTranslator(&translator);
    }
}

int RunWindow(int argc, char** argv, const CommandLine& cl) {
    QApplication app(argc, argv);
    QTranslator translator;
    InstallButtonTranslations(app, translator, cl);
    MFUMain window;
    WizardAssembly wizard(window, cl);
    StageMachine& machine = wizard.machine;
    window.OnNext = [&machine] { machine.NextClick(); };
    window.OnBack = [&machine] { machine.BackClick(); };
    window.OnClose = [&machine] { machine.CloseClick(); };
    window.OnPrint = [&] { PrintAgreement(&window, wizard.session.AppDir, wizard.texts); };
    machine.OnEnded = [&] {
        window.AllowClose();
        window.close();
        QCoreApplication::exit(machine.ExitCode());
    };
    if (!machine.Load())
        return machine.ExitCode();
    window.show();
    app.exec();
    return machine.ExitCode();
}

int RunTerminal(int argc, char** argv, const CommandLine& cl) {
    QCoreApplication app(argc, argv);
    TerminalView view(std::cin, std::cout, isatty(STDOUT_FILENO) && isatty(STDIN_FILENO));
    WizardAssembly wizard(view, cl);
    return RunTerminalWizard(wizard.machine, view);
}

}  // namespace

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const ParsedCommandLine parsed = ParseCommandLine(arguments);
    if (!parsed.options) {
        std::fprintf(stderr, "kav-update: %s\n\n%s", qPrintable(parsed.error), qPrintable(parsed.helpText));
        return ExitStartupEnded;
    }
    const CommandLine& cl = *parsed.options;
    if (cl.Help) {
        std::fputs(qPrintable(parsed.helpText), stdout);
        return 0;
    }
    if (cl.Version) {
        std::printf("kav-update %s\n", KAV_VERSION);
        return 0;
    }
    return cl.Cli ? RunTerminal(argc, argv, cl) : RunWindow(argc, argv, cl);
}
