#pragma once

// A program run as a script or a person runs it, its output (both streams) read as it comes.
#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>

struct ProgramRun {
    // terminal: script(1) in between, as for a person at a keyboard, so that Ctrl-C is the terminal's.
    // Exec'd: a shell such as dash that stays in between would itself die of the Ctrl-C.
    void Start(const QString& program, const QStringList& args, bool terminal = false) {
        process.setProcessChannelMode(QProcess::MergedChannels);
        if (terminal)
            process.start("script",
                          {"-qefc", "exec '" + program + "' '" + args.join("' '") + "'", "/dev/null"});
        else
            process.start(program, args);
    }
    // Reads output until the pattern matches after the previous match; false after the time-out, or when
    // the program ended without it.
    bool WaitFor(const QRegularExpression& pattern, int seconds) {
        for (QDeadlineTimer deadline(seconds * 1000);;) {
            const bool ended = process.state() == QProcess::NotRunning;
            output += QString::fromUtf8(process.readAll());
            if (const auto m = pattern.match(output, from); m.hasMatch())
                return from = m.capturedEnd(), true;
            if (ended || deadline.hasExpired())
                return false;
            process.waitForReadyRead(100);
        }
    }
    bool WaitFor(const QString& text, int seconds) {
        return WaitFor(QRegularExpression(QRegularExpression::escape(text)), seconds);
    }
    void Say(const QByteArray& input) { process.write(input); }
    // The exit status; -1 when a signal ended the program, or the time-out did.
    int Finish(int seconds) {
        process.closeWriteChannel();
        if (!process.waitForFinished(seconds * 1000))
            process.kill(), process.waitForFinished();
        output += QString::fromUtf8(process.readAll());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    QProcess process;
    QString output;
    qsizetype from = 0;  // where the next WaitFor looks
};
