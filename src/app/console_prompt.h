#pragma once

#include <functional>
#include <optional>
#include <string>

// A prompt's line from a console whose read a stop signal cuts short (Windows): Ctrl-C ends the read empty
// before the signal's handler has run on its thread. The cut belongs to the signal, not to the end of the
// input: the signal is awaited and taken, and the prompt then reads on (a Close confirmed while the DC is
// busy, as a signal at a Unix prompt) or ends as the signal asks. Where the read is not cut (Wine), a signal
// that came while the line was typed is taken before the line counts.
struct ConsolePrompt {
    enum class Read { Line, Cut, End };
    std::function<bool()> takeSignals;       // takes the signals that have come; true: the prompt ends
    std::function<Read(std::string&)> read;  // one read; Cut also when a signal came while it waited
    std::function<bool()> awaitSignal;       // gives the handler its time; false when none came
};

// nullopt: the prompt ends, by a signal's request or at the end of the input.
inline std::optional<std::string> ReadPromptLine(const ConsolePrompt& console) {
    std::string line;
    while (!console.takeSignals()) {
        switch (console.read(line)) {
            case ConsolePrompt::Read::Line:  // a signal that came while it was typed wins
                return console.takeSignals() ? std::nullopt : std::optional(line);
            case ConsolePrompt::Read::End:
                return std::nullopt;
            case ConsolePrompt::Read::Cut:
                if (!console.awaitSignal())
                    return std::nullopt;  // cut with no signal behind it: the console went
                break;
        }
    }
    return std::nullopt;
}
