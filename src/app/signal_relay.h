#pragma once

#include <QProcess>
#include <functional>
#include <memory>

// For a program that runs others: Ctrl-C and its kin at the terminal reach this process alone, and OnStop
// passes them on (once per signal). On Windows the console's Ctrl-C reaches every process on it anyway, so
// nothing is relayed there.
class SignalRelay {
public:
    explicit SignalRelay(std::function<void()> onStop);
    ~SignalRelay();
    SignalRelay(const SignalRelay&) = delete;
    SignalRelay& operator=(const SignalRelay&) = delete;

    // Before the child starts: out of the terminal's process group, the signals as they were before us.
    void Prepare(QProcess& child) const;
    // Asks a child to stop as Ctrl-C at its terminal would.
    static void Interrupt(QProcess& child);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The child keeps running when the terminal's Ctrl-C comes: stopping it is this program's decision.
void KeepFromTerminalSignals(QProcess& child);
