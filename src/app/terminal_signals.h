#pragma once

#include <QSocketNotifier>
#include <memory>

struct WizardAssembly;

// Terminal mode's answer to SIGINT, SIGTERM and SIGHUP. During an update the first one is a Close the user
// has confirmed: the link stops, the update unwinds through its failure paths, and the Close sequence follows
// with its recovery offered. Before an update, or at a prompt, it is Close. A second signal, or one that
// comes while the Close sequence runs, ends the program at once with the signal's own status, leaving any
// backup file for a later run. SIGPIPE is ignored: a reader that goes away only stops the printing.
class TerminalSignals {
public:
    explicit TerminalSignals(WizardAssembly& wizard);
    ~TerminalSignals();
    TerminalSignals(const TerminalSignals&) = delete;
    TerminalSignals& operator=(const TerminalSignals&) = delete;

    // For a prompt: waits until the descriptor has input (or its end) and returns true, or returns false when
    // a signal asks to close instead.
    bool AwaitInput(int fd);
    // A stop signal that has arrived, in the event loop's thread.
    void Handle(int signal);

private:
    void Take();                        // the signals that have arrived
    static void EndAtOnce(int signal);  // a note, then the end the signal asks for

    struct ConsoleReader;  // where the prompts read a console from, where a signal cuts a read (Windows)

    WizardAssembly& wizard_;
    int readFd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::unique_ptr<ConsoleReader> console_;
    bool closeAsked_ = false;
};
