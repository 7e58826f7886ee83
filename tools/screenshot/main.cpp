// kav-screenshot: renders the wizard's first page into a PNG, for the documentation. Runs without a display
// (QT_QPA_PLATFORM=offscreen).
#include <QApplication>
#include <cstdio>

#include "app/command_line.h"
#include "app/wizard_assembly.h"
#include "wizard/front/mfu_main.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        std::fputs("usage: kav-screenshot OUT.png\n", stderr);
        return 2;
    }
    MFUMain window;
    CommandLine cl;
    cl.Simulate = true;  // page 1 needs a cable; the simulated one will do
    SystemClock clock;
    RunLog log(clock);  // never opened: a screenshot leaves no log
    WizardAssembly wizard(window, cl, log);
    if (!wizard.machine.Load())
        return 1;
    window.show();
    app.processEvents();
    return window.grab().save(args[1]) ? 0 : 1;
}
