#include "app/terminal_signals.h"

#include "app/wizard_assembly.h"

// How a stop signal reaches the event loop differs by system: terminal_signals_linux.cpp,
// terminal_signals_windows.cpp. What it means does not.

void TerminalSignals::Handle(int signal) {
    StageMachine& machine = wizard_.machine;
    if (machine.Ended())
        return;
    if (machine.Closing())
        EndAtOnce(signal);
    if (machine.TalkingToDc()) {
        wizard_.log.Write(QStringLiteral("decision: close by signal %1, while the DC is busy").arg(signal));
        machine.CloseConfirmed();  // the exchange stops; Close follows when it has returned
    } else {
        closeAsked_ = true;  // the next prompt reads Close
    }
    wizard_.pump.Wake();
}
