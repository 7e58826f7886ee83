#include "support/console.h"

#include <io.h>
#include <windows.h>

namespace {

// _isatty is true for every character device, NUL and COM ports among them; only a console has a mode.
bool IsConsole(DWORD stream) {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(stream), &mode) != 0;
}

}  // namespace

bool InputIsTerminal() {
    return IsConsole(STD_INPUT_HANDLE);
}

bool OutputIsTerminal() {
    return IsConsole(STD_OUTPUT_HANDLE);
}

int TerminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info))
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
