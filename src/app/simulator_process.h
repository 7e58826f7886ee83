#pragma once

#include <QProcess>
#include <QString>
#include <optional>

#include "app/signal_relay.h"
#include "run/session.h"
#include "wizard/cable_check.h"

// --simulate: the "cable" is kav-dc-sim on a pseudo-terminal. It is started when the cable is first looked
// for (the firmware file is known by then, so the simulated DC can take on its version) and stopped with the
// wizard.
class SimulatorCableFinder final : public CableFinder {
public:
    SimulatorCableFinder(const Session& session, const TextDatabase& texts, QString program,
                         QString extraArgs)
        : session_(session), texts_(texts), program_(std::move(program)), extraArgs_(std::move(extraArgs)) {
        // Out of the terminal's process group: Ctrl-C is the wizard's to handle, the DC stays on the line.
        KeepFromTerminalSignals(process_);
    }
    ~SimulatorCableFinder() override;

    bool Find(CablePort& device) override;
    // Stops the simulated DC (its input closes) and returns its exit status; none when it never ran.
    std::optional<int> End();
    QString Failure() const override { return failure_; }

private:
    bool Start();

    const Session& session_;
    const TextDatabase& texts_;
    QString program_;
    QString extraArgs_;
    QProcess process_;
    QString path_;
    QString failure_;
};
