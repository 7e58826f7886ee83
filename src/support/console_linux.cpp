#include "support/console.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

bool InputIsTerminal() {
    return ::isatty(STDIN_FILENO) != 0;
}

bool OutputIsTerminal() {
    return ::isatty(STDOUT_FILENO) != 0;
}

int TerminalColumns() {
    winsize size{};
    return ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

void DiscardTypedAhead(int fd) {
    ::tcflush(fd, TCIFLUSH);
}

void LeaveOwnConsole() {}
