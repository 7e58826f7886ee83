#pragma once

#include <QCommandLineOption>
#include <QString>

class QCommandLineParser;

// What the three programs' command lines do alike: -h/--help, -V/--version, and a usage error told in one
// line that names the program, a hint, and exit status 2.

inline constexpr int kUsageExitStatus = 2;

QCommandLineOption HelpOption();
QCommandLineOption VersionOption();

// `command` is what --help is asked of: "kav-fwr", or "kav-fwr pack". Returns kUsageExitStatus.
int ReportUsageError(const QString& command, const QString& problem);

// The parser's own complaint in the form of ours: "unknown option 'x'", not "Unknown option 'x'.".
QString ParserProblem(const QCommandLineParser& parser);

// The parser's help, its usage line naming `command` rather than the path the program was started by.
QString HelpText(const QCommandLineParser& parser, const QString& command);

// "<program> <version>" on standard output. Returns 0.
int ReportVersion(const QString& program);
