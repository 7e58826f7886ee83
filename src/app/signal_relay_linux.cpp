#include "app/signal_relay.h"

#include <sys/signalfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>

struct SignalRelay::State {
    sigset_t stopSignals{}, maskBefore{};
    int fd = -1;
    std::unique_ptr<QSocketNotifier> notifier;
};

SignalRelay::SignalRelay(std::function<void()> onStop) : state_(std::make_unique<State>()) {
    sigemptyset(&state_->stopSignals);
    for (const int s : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&state_->stopSignals, s);
    sigprocmask(SIG_BLOCK, &state_->stopSignals, &state_->maskBefore);
    state_->fd = signalfd(-1, &state_->stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);
    state_->notifier = std::make_unique<QSocketNotifier>(state_->fd, QSocketNotifier::Read);
    QObject::connect(state_->notifier.get(), &QSocketNotifier::activated, [this, stop = std::move(onStop)] {
        signalfd_siginfo info{};
        while (::read(state_->fd, &info, sizeof info) == ssize_t(sizeof info))
            stop();
    });
}

SignalRelay::~SignalRelay() {
    state_->notifier.reset();
    ::close(state_->fd);
    sigprocmask(SIG_SETMASK, &state_->maskBefore, nullptr);
}

void SignalRelay::Prepare(QProcess& child) const {
    // Between fork and exec: the parent's mask undone, a process group of its own.
    child.setChildProcessModifier([before = state_->maskBefore] {
        ::setpgid(0, 0);
        sigprocmask(SIG_SETMASK, &before, nullptr);
    });
}

void SignalRelay::Interrupt(QProcess& child) {
    if (child.state() == QProcess::Running)
        ::kill(pid_t(child.processId()), SIGINT);
}

void KeepFromTerminalSignals(QProcess& child) {
    child.setChildProcessModifier([] { ::setpgid(0, 0); });
}
