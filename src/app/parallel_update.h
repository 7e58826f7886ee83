#pragma once

#include <iosfwd>

struct CommandLine;

// A service station's run: the DCs on several ports (--port given more than once, or --all-cables) updated at
// once, each by a kav-update --cli --yes of its own whose lines come out prefixed with its port, then one
// summary row a DC. 0 when every DC succeeded or was already current, 1 otherwise, 2 when there is no port.
int RunParallelUpdate(const CommandLine& cl, std::ostream& out, std::ostream& err);
