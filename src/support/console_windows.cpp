#include "support/console.h"

#include <io.h>
#include <windows.h>

#include <cstdio>

bool InputIsTerminal() {
    return _isatty(_fileno(stdin)) != 0;
}

bool OutputIsTerminal() {
    return _isatty(_fileno(stdout)) != 0;
}

int TerminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!OutputIsTerminal() || !GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info))
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

void DiscardTypedAhead(int fd) {
    FlushConsoleInputBuffer(reinterpret_cast<HANDLE>(_get_osfhandle(fd)));
}

void LeaveOwnConsole() {
    // Alone on the console: nobody typed the command, so nobody reads it.
    DWORD processes[2];
    if (GetConsoleProcessList(processes, 2) == 1)
        FreeConsole();
}
