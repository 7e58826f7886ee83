#pragma once

#include <string>

// A pseudo-terminal whose slave side looks like the cable's serial port: raw, 38400 baud. The slave stays
// open here as well, so that the master neither reports a hang-up nor forgets the settings between clients.
class PseudoTerminal {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool Open(std::string& error);
    int MasterFd() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};
