#pragma once

// The program's standard streams, as the system tells what they are connected to.
bool InputIsTerminal();
bool OutputIsTerminal();
int TerminalColumns();  // 0 when the output is no terminal or its width is unknown
inline constexpr int kStandardInput = 0;
// Drops what was typed on the terminal and not yet read.
void DiscardTypedAhead(int fd);

// A window started from the desktop needs no console. On Windows the program is a console program (so that
// --cli works in a command prompt), and one started by a double click gets a console of its own: it goes.
void LeaveOwnConsole();
