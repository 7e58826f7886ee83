#include "app/simulator_process.h"

SimulatorCableFinder::~SimulatorCableFinder() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.closeWriteChannel();  // the simulator ends when its input closes
    if (!process_.waitForFinished(2000)) process_.kill();
    process_.waitForFinished(1000);
}

bool SimulatorCableFinder::Find(DeviceState& device) {
    if (path_.isEmpty()) {
        QStringList args;
        const FirmwareImage& fw = session_.firmware;
        if (fw.FwrVersion.size() == 2) args << QStringLiteral("--new-version") << fw.FwrVersion;
        args << QStringLiteral("--new-sub-version") << QString::number(fw.FwrSubVersion);
        args << QProcess::splitCommand(extraArgs_);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(program_, args);
        if (!process_.waitForStarted(5000)) return false;
        while (!process_.canReadLine() && process_.waitForReadyRead(5000)) {
        }
        path_ = QString::fromLocal8Bit(process_.readLine()).trimmed();
        if (path_.isEmpty()) return false;
    }
    device.InterfacePortName = path_;
    return true;
}
