#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The command line of kav-update: the program's public interface for scripts and service stations.
struct CommandLine {
    bool Cli = false;
    QString Port;      // a serial device to use instead of searching for the cable
    QString AppDir;    // empty: the executable's folder
    QString Firmware;  // empty: the file named by string resource 201, in the application folder
    bool Simulate = false;  // talk to the simulated DC (kav-dc-sim) instead of a cable
    QString SimArgs;        // extra options for the simulated DC
    std::optional<double> LanguageCode;
    bool Help = false;
    bool Version = false;
};

struct ParsedCommandLine {
    std::optional<CommandLine> options;  // empty on a usage error
    QString error;
    QString helpText;
};

ParsedCommandLine ParseCommandLine(const QStringList& arguments);
