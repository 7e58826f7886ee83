#include "app/terminal_signals.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <utility>

#include "app/wizard_assembly.h"

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// All a signal handler may touch: the pipe that carries a signal into the event loop, and whether one came
// before. Process-wide by nature.
int wakeWriteFd = -1;
volatile std::sig_atomic_t signalled = 0;

// Async-signal-safe: a fixed note, then the signal's default action.
void EndNow(int signal) {
    static const char note[] = "\nkav-update: stopped at once; a profile backup file stays for a later run\n";
    (void)!::write(STDERR_FILENO, note, sizeof note - 1);
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    ::sigaction(signal, &fallback, nullptr);
    ::raise(signal);
}

void OnStopSignal(int signal) {
    if (signalled) {
        EndNow(signal);
        return;
    }
    signalled = 1;
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    (void)!::write(wakeWriteFd, &byte, 1);
    errno = saved;
}

}  // namespace

// A terminal's read is never cut by a signal: nothing to put in place.
struct TerminalSignals::ConsoleReader {};

TerminalSignals::TerminalSignals(WizardAssembly& wizard) : wizard_(wizard) {
    std::signal(SIGPIPE, SIG_IGN);
    // Unbuffered, so that input waiting for a prompt is never hidden from poll() in stdio's buffer.
    std::setvbuf(stdin, nullptr, _IONBF, 0);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;  // the signals keep their default action
    readFd_ = fds[0];
    wakeWriteFd = fds[1];
    notifier_ = std::make_unique<QSocketNotifier>(readFd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { Take(); });
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int s : kStopSignals)
        ::sigaction(s, &action, nullptr);
}

TerminalSignals::~TerminalSignals() {
    for (const int s : kStopSignals)
        std::signal(s, SIG_DFL);
    notifier_.reset();
    if (readFd_ >= 0) {
        ::close(readFd_);
        ::close(wakeWriteFd);
        wakeWriteFd = -1;
    }
}

void TerminalSignals::Take() {
    unsigned char byte = 0;
    while (readFd_ >= 0 && ::read(readFd_, &byte, 1) == 1)
        Handle(byte);
}

void TerminalSignals::EndAtOnce(int signal) {
    EndNow(signal);
}

bool TerminalSignals::AwaitInput(int fd) {
    while (true) {
        Take();
        if (std::exchange(closeAsked_, false))
            return false;
        pollfd watched[2] = {{fd, POLLIN, 0}, {readFd_, POLLIN, 0}};
        const int ready = ::poll(watched, readFd_ >= 0 ? 2 : 1, -1);
        if ((ready > 0 && watched[0].revents != 0) || (ready < 0 && errno != EINTR))
            return true;
    }
}
