#include "app/terminal_signals.h"

#include <windows.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <atomic>
#include <cstdio>
#include <utility>

#include "app/wizard_assembly.h"

// The console's Ctrl-C, Ctrl-Break and its closing come in on a thread of their own; the first is handed to
// the event loop, a second one ends the program at once, as on a Unix terminal.

namespace {

// All the console's handler thread may touch. Process-wide by nature.
std::atomic<TerminalSignals*> listener{nullptr};
std::atomic<bool> signalled{false};

void EndNow() {
    std::fputs("\nkav-update: stopped at once; a profile backup file stays for a later run\n", stderr);
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

BOOL WINAPI OnConsoleStop(DWORD event) {
    if (signalled.exchange(true))
        EndNow();
    TerminalSignals* to = listener.load();
    if (to == nullptr)
        return FALSE;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [to, event] { to->Handle(static_cast<int>(event)); },
        Qt::QueuedConnection);
    return TRUE;
}

}  // namespace

TerminalSignals::TerminalSignals(WizardAssembly& wizard) : wizard_(wizard) {
    listener = this;
    SetConsoleCtrlHandler(OnConsoleStop, TRUE);
}

TerminalSignals::~TerminalSignals() {
    SetConsoleCtrlHandler(OnConsoleStop, FALSE);
    listener = nullptr;
}

void TerminalSignals::Take() {
    QCoreApplication::sendPostedEvents();  // the handler's, delivered now
}

void TerminalSignals::EndAtOnce(int signal) {
    Q_UNUSED(signal);
    EndNow();
}

bool TerminalSignals::AwaitInput(int fd) {
    Q_UNUSED(fd);
    // A Ctrl-C during the read itself ends the read; the line it leaves is taken as the end of the input.
    Take();
    return !std::exchange(closeAsked_, false);
}
