#include "app/signal_relay.h"

#include <windows.h>

struct SignalRelay::State {};

SignalRelay::SignalRelay(std::function<void()> onStop) : state_(std::make_unique<State>()) {
    Q_UNUSED(onStop);
}

SignalRelay::~SignalRelay() = default;

void SignalRelay::Prepare(QProcess& child) const {
    Q_UNUSED(child);
}

void SignalRelay::Interrupt(QProcess& child) {
    Q_UNUSED(child);  // it has had the console's Ctrl-C itself
}

void KeepFromTerminalSignals(QProcess& child) {
    // A new process group does not get the console's Ctrl-C.
    child.setCreateProcessArgumentsModifier(
        [](QProcess::CreateProcessArguments* arguments) { arguments->flags |= CREATE_NEW_PROCESS_GROUP; });
}
