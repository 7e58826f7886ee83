#include "app/terminal_signals.h"

#include <windows.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <streambuf>
#include <utility>

#include "app/console_prompt.h"
#include "app/wizard_assembly.h"

// The console's Ctrl-C, Ctrl-Break and its closing come in on a thread of their own and are taken in the
// event loop's thread, as the signals of a Unix terminal; a second Ctrl-C ends the program at once. A closing
// console (or logoff, shutdown) ends the process as soon as its handler returns: the handler waits until the
// run has unwound, the DC's finish sent, for as long as Windows lets it (about 5 s).

namespace {

// All the console's handler thread may touch. Process-wide by nature.
std::atomic<TerminalSignals*> listener{nullptr};
std::atomic<bool> interrupted{false};  // a Ctrl-C or Ctrl-Break came before
std::atomic<int> waiting{0};           // the signal not yet taken, as its C number
std::atomic<bool> consoleGoes{false};  // nobody answers a prompt any more
HANDLE arrived = nullptr;              // set while a signal waits to be taken
HANDLE runOver = nullptr;              // set once the run has ended
void (*takeWaiting)() = nullptr;       // TerminalSignals::Take, for the event loop

void EndNow() {
    std::fputs("\nkav-update: stopped at once; a profile backup file stays for a later run\n", stderr);
    // Not ExitProcess: from this thread it would run the libraries' exit code under the main thread's feet.
    TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
}

BOOL WINAPI OnConsoleStop(DWORD event) {
    const bool goes = event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
    // A closing console never ends at once: a stop already on its way is waited for.
    if (!goes && interrupted.exchange(true))
        EndNow();
    if (listener.load() == nullptr)
        return FALSE;
    if (goes)
        consoleGoes = true;
    waiting = goes ? SIGTERM : event == CTRL_BREAK_EVENT ? SIGBREAK : SIGINT;
    SetEvent(arrived);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { takeWaiting(); }, Qt::QueuedConnection);
    if (goes)
        WaitForSingleObject(runOver, INFINITE);  // Windows ends the process at its own limit
    return TRUE;
}

// std::cin on a console: a line a read at a time, as UTF-8; a read that a signal cuts ends as the signal
// asks.
class ConsoleInput final : public std::streambuf {
public:
    explicit ConsoleInput(ConsolePrompt prompt) : prompt_(std::move(prompt)) {}

protected:
    int_type underflow() override {
        if (gptr() < egptr())
            return traits_type::to_int_type(*gptr());
        std::optional<std::string> line = ReadPromptLine(prompt_);
        if (!line)
            return traits_type::eof();
        line_ = std::move(*line);
        setg(line_.data(), line_.data(), line_.data() + line_.size());
        return traits_type::to_int_type(*gptr());
    }

private:
    ConsolePrompt prompt_;
    std::string line_;
};

// True once a key that types has been pressed. What comes before it (a modifier such as Ctrl of a Ctrl-C, a
// key let go, focus) is dropped, so that a read begins only with an answer: a read that has begun, Wine's
// console lets no Ctrl-C end.
bool AnswerBegun(HANDLE input) {
    const HANDLE awaited[] = {arrived, input};
    while (WaitForMultipleObjects(2, awaited, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        INPUT_RECORD record{};
        DWORD count = 0;
        if (!PeekConsoleInputW(input, &record, 1, &count) || count == 0 ||
            (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
             record.Event.KeyEvent.uChar.UnicodeChar != 0))
            return true;
        ReadConsoleInputW(input, &record, 1, &count);
    }
    return false;
}

ConsolePrompt::Read ReadConsoleOnce(std::string& line) {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (!AnswerBegun(input))
        return ConsolePrompt::Read::Cut;
    wchar_t text[1024];
    DWORD got = 0;
    // Windows' Ctrl-C while the line was typed: an empty read, or one that failed as aborted.
    if (!ReadConsoleW(input, text, static_cast<DWORD>(std::size(text)), &got, nullptr))
        return GetLastError() == ERROR_OPERATION_ABORTED ? ConsolePrompt::Read::Cut
                                                         : ConsolePrompt::Read::End;
    if (got == 0)
        return ConsolePrompt::Read::Cut;
    QString typed = QString::fromWCharArray(text, static_cast<qsizetype>(got));
    if (typed.startsWith(QChar(0x1A)))  // Ctrl-Z, then Enter: the end of the input
        return ConsolePrompt::Read::End;
    typed.remove(u'\r');
    line = typed.toStdString();
    return ConsolePrompt::Read::Line;
}

}  // namespace

// std::cin reads the console through it while the signals are taken here.
struct TerminalSignals::ConsoleReader {
    explicit ConsoleReader(ConsolePrompt prompt) : input(std::move(prompt)), before(std::cin.rdbuf(&input)) {}
    ~ConsoleReader() { std::cin.rdbuf(before); }
    ConsoleInput input;
    std::streambuf* before;
    bool promptEndedBySignal = false;  // the input was left at its end for it
};

TerminalSignals::TerminalSignals(WizardAssembly& wizard) : wizard_(wizard) {
    if (arrived == nullptr) {
        arrived = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        runOver = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    takeWaiting = [] {
        if (TerminalSignals* to = listener.load())
            to->Take();
    };
    DWORD mode = 0;
    if (GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode))
        console_ = std::make_unique<ConsoleReader>(ConsolePrompt{
            [this] {
                Take();
                return console_->promptEndedBySignal = consoleGoes || std::exchange(closeAsked_, false);
            },
            ReadConsoleOnce, [] { return WaitForSingleObject(arrived, 1000) == WAIT_OBJECT_0; }});
    listener = this;
    SetConsoleCtrlHandler(OnConsoleStop, TRUE);
}

TerminalSignals::~TerminalSignals() {
    listener = nullptr;
    SetEvent(runOver);  // a closing console's handler lets the process go
    SetConsoleCtrlHandler(OnConsoleStop, FALSE);
    console_.reset();
}

void TerminalSignals::Take() {
    ResetEvent(arrived);
    const int signal = waiting.exchange(0);
    // A closing console does not end the Close sequence at once: it runs to its end, every prompt unanswered.
    if (signal == 0 || (signal == SIGTERM && wizard_.machine.Closing()))
        return;
    Handle(signal);
}

void TerminalSignals::EndAtOnce(int signal) {
    Q_UNUSED(signal);
    EndNow();
}

bool TerminalSignals::AwaitInput(int fd) {
    Q_UNUSED(fd);
    // A prompt a signal ended left the input at its end; the next one reads again.
    if (console_ && std::exchange(console_->promptEndedBySignal, false))
        std::cin.clear();
    Take();
    return !consoleGoes && !std::exchange(closeAsked_, false);
}
