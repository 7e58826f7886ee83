#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The command line of kav-update: the program's public interface for scripts and service stations.
struct CommandLine {
    bool Cli = false;
    QString Port;            // a serial device to use instead of searching for the cable: the first --port
    QStringList Ports;       // every --port, for a station that updates several DCs at once
    bool AllCables = false;  // update the DC on every interface cable found, at once
    bool Yes = false;        // decide alone: Next on the pages, Close at the end, no answer to a box
    QString AttemptFile;     // hidden: the update attempt as JSON, for the parent of a several-DC run
    QString AppDir;          // empty: the executable's folder
    QString Firmware;        // empty: the file named by string resource 201, in the application folder
    bool Simulate = false;   // talk to the simulated DC (kav-dc-sim) instead of a cable
    QString SimArgs;         // extra options for the simulated DC
    std::optional<double> LanguageCode;
    QString Log;             // the run log's file; empty: a new file in the user's log folder
    bool Trace = false;      // the bytes on the wire go into the log too
    QString QtPlatform;      // Qt's own -platform option, when given
    bool ListPorts = false;  // list the serial ports that could be the cable, then end
    bool Identify = false;   // identify the DC on the cable, write nothing, then end
    bool History = false;    // print the update history, then end
    bool Json = false;       // ... as JSON
    QString HistorySerial;   // ... of this DC only
    QString RestoreProfile;  // a backup file to write into its DC, then end
    QString Replay;          // a run log: its update again, against a DC that answers as in the log
    bool Lenient = false;    // ... and answers as the simulated DC where the program differs from the log
    bool Help = false;
    bool Version = false;
};

// More than one DC in this run: each gets a kav-update of its own.
inline bool SeveralDcs(const CommandLine& cl) {
    return cl.AllCables || cl.Ports.size() > 1;
}

struct ParsedCommandLine {
    std::optional<CommandLine> options;  // empty on a usage error
    QString error;
    QString helpText;
};

// Qt's own options (-platform, -style ...) are accepted and left to Qt.
ParsedCommandLine ParseCommandLine(const QStringList& arguments);

// Whether a window can be opened: the platform Qt will use (-platform, else QT_QPA_PLATFORM, else the
// desktop's) needs a display server that the environment names.
bool WindowCanOpen(const QString& platform, const QString& display, const QString& waylandDisplay);
