#include "app/simulator_process.h"

#include <cstdio>

SimulatorCableFinder::~SimulatorCableFinder() {
    End();
}

std::optional<int> SimulatorCableFinder::End() {
    if (path_.isEmpty())
        return std::nullopt;
    if (process_.state() != QProcess::NotRunning) {
        process_.closeWriteChannel();  // the simulator ends when its input closes
        if (!process_.waitForFinished(2000))
            process_.kill();
        process_.waitForFinished(1000);
    }
    // What it said last (a replay's verdict) goes where the rest went.
    const QByteArray text = process_.readAllStandardError();
    std::fwrite(text.constData(), 1, std::size_t(text.size()), stderr);
    return process_.exitStatus() == QProcess::NormalExit ? std::optional<int>(process_.exitCode())
                                                         : std::nullopt;
}

bool SimulatorCableFinder::Start() {
    QStringList args;
    const FirmwareImage& fw = session_.firmware;
    if (fw.FwrVersion.size() == 2)
        args << QStringLiteral("--new-version") << fw.FwrVersion;
    args << QStringLiteral("--new-sub-version") << QString::number(fw.FwrSubVersion);
    args << QProcess::splitCommand(extraArgs_);
    process_.start(program_, args);
    if (!process_.waitForStarted(5000)) {
        failure_ = process_.errorString();
        return false;
    }
    while (!process_.canReadLine() && process_.waitForReadyRead(5000)) {
    }
    path_ = QString::fromLocal8Bit(process_.readLine()).trimmed();
    if (path_.isEmpty()) {
        // It said why on its standard error (a rejected option, no pseudo-terminal) and ended. The first line
        // is the reason; a hint to its --help may follow.
        process_.waitForFinished(2000);
        failure_ = QString::fromLocal8Bit(process_.readAllStandardError()).trimmed().section(u'\n', 0, 0);
        if (failure_.isEmpty())
            failure_ = process_.state() == QProcess::NotRunning
                           ? QStringLiteral("exit status %1").arg(process_.exitCode())
                           : QStringLiteral("no device path on its first line");
        return false;
    }
    // From now on its messages go where ours go.
    QObject::connect(&process_, &QProcess::readyReadStandardError, &process_, [this] {
        const QByteArray text = process_.readAllStandardError();
        std::fwrite(text.constData(), 1, std::size_t(text.size()), stderr);
    });
    return true;
}

bool SimulatorCableFinder::Find(CablePort& device) {
    failure_.clear();
    if (path_.isEmpty() && !Start()) {
        failure_ = texts_.GetText(Txt::SimulatorNotStarted).arg(program_, failure_);
        process_.kill();
        process_.waitForFinished(1000);
        path_.clear();
        return false;
    }
    device.InterfacePortName = path_;
    return true;
}
