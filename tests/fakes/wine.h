#pragma once

// Windows programs under Wine, in the prefix WINEPREFIX names (scripts/test-windows.sh makes a fresh one and
// quiets Wine's own messages).
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include "fakes/program_run.h"

// Wine's name for a Unix path is its drive Z:.
inline QString WindowsPath(const QString& path) {
    return "Z:" + QDir::toNativeSeparators(path).replace('/', '\\');
}

// KAV_WINE_PROGRAM, or another Windows program.
struct WineProgram : ProgramRun {
    explicit WineProgram(const QStringList& args, bool inputNul = false)
        : WineProgram(qEnvironmentVariable("KAV_WINE_PROGRAM"), args, inputNul) {}
    WineProgram(const QString& program, const QStringList& args, bool inputNul = false) {
        if (inputNul)
            process.setStandardInputFile(QProcess::nullDevice());
        Start("wine", QStringList{program} + args);
    }
    int Finish(int seconds) {
        const int status = ProgramRun::Finish(seconds);
        output.remove('\r');
        return status;
    }
};

// COMn of the prefix leads to the pseudo-terminal.
inline bool LinkComPort(int n, const QString& pty) {
    const QString link = qEnvironmentVariable("WINEPREFIX") + QString("/dosdevices/com%1").arg(n);
    QFile::remove(link);
    return QFile::link(pty, link);
}

// Every Wine process of the prefix gone, before the pseudo-terminal closes: a hang-up under a running
// wineserver floods its output.
inline void WaitForWine() {
    QProcess::execute("wineserver", {"-w"});
}

// A tool's standard output, trimmed; empty when it failed.
inline QString Run(const QString& program, const QStringList& args) {
    QProcess tool;
    tool.start(program, args);
    tool.waitForFinished(60000);
    return tool.exitCode() == 0 ? QString::fromUtf8(tool.readAllStandardOutput()).trimmed() : QString();
}

// The window as the screen shows it, into a PNG file.
inline bool Screenshot(const QString& window, const QString& png) {
    const QString shot = "xwd -silent -id " + window + " | convert xwd:- '" + png + "'";
    return QProcess::execute("sh", {"-c", shot}) == 0 && QFileInfo(png).size() > 0;
}

// A real click (XTEST) at a point of the window: Wine takes no synthetic events.
inline void Click(const QString& window, int x, int y) {
    QProcess::execute(
        "xdotool", {"mousemove", "--window", window, QString::number(x), QString::number(y), "click", "1"});
}

// The first X window whose title matches, waited for; empty after the time-out.
inline QString WaitForWindow(const QString& title, int seconds) {
    QString window;
    for (QDeadlineTimer deadline(seconds * 1000);
         (window = Run("xdotool", {"search", "--name", title})).isEmpty() && !deadline.hasExpired();)
        QProcess::execute("sleep", {"0.25"});
    return window.section('\n', 0, 0);
}

inline int Reg(const QStringList& args) {
    QProcess reg;
    reg.start("wine", QStringList{"reg"} + args + QStringList{"/f"});
    reg.waitForFinished(60000);
    return reg.exitCode();
}

// A registry value's data as `reg query` prints it; empty when the key or value is not there.
inline QString RegValue(const QString& key, const QString& value) {
    const QStringList which = value.isEmpty() ? QStringList{"/ve"} : QStringList{"/v", value};
    for (const QString& line :
         Run("wine", QStringList{"reg", "query", key} + which).remove('\r').split('\n')) {
        const QStringList cells = line.trimmed().split(QRegularExpression("\\s{4}"));
        if (cells.size() == 3 && cells[1].startsWith("REG_"))
            return cells[2];
    }
    return {};
}

// A Windows path with its %VARIABLES% expanded; cmd echoes the quotes Wine puts around an argument with
// spaces.
inline QString Expand(const QString& windowsPath) {
    return Run("wine", {"cmd", "/c", "echo", windowsPath}).remove('\r').remove('"');
}

// Where Wine keeps a Windows path.
inline QString UnixPath(const QString& windowsPath) {
    return Run("winepath", {"-u", Expand(windowsPath)});
}
