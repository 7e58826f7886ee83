#pragma once

#include <QString>
#include <optional>
#include <utility>
#include <vector>

#include "link/cable_diagnosis.h"
#include "link/port_discovery.h"
#include "run/session.h"
#include "run/wizard_view.h"
#include "support/text_database.h"

class SerialPort;

// Looks for the interface cable's port; sets InterfacePortName (and InterfacePortNumber where ports have
// numbers). False: no cable.
class CableFinder {
public:
    virtual ~CableFinder() = default;
    virtual bool Find(CablePort& device) = 0;
    // Why the last search could not even look (a simulated DC that did not start); empty for a plain miss.
    virtual QString Failure() const { return {}; }
    // Every cable the last search found, Find's first; empty where cables cannot be told apart.
    virtual std::vector<FoundCable> Found() const { return {}; }
};

// Opens the port at the DC's settings. False: *error says how it failed.
class PortOpener {
public:
    virtual ~PortOpener() = default;
    virtual bool Open(const QString& name, PortOpenError* error) = 0;
    // False once the port has gone (the cable pulled).
    virtual bool IsOpen() const = 0;
};

// The platform's search: the registry on Windows, the cable's USB ids elsewhere.
class SystemCableFinder final : public CableFinder {
public:
    explicit SystemCableFinder(const PortSystem& system) : system_(system) {}
    bool Find(CablePort& device) override;
    std::vector<FoundCable> Found() const override { return found_; }

private:
    const PortSystem& system_;
    std::vector<FoundCable> found_;
};

class SerialPortOpener final : public PortOpener {
public:
    explicit SerialPortOpener(SerialPort& port) : port_(port) {}
    bool Open(const QString& name, PortOpenError* error) override;
    bool IsOpen() const override;

private:
    SerialPort& port_;
};

// The start-up check: finds the cable and opens its port, asking the user to plug it in for as long as they
// agree to try again. A port that is found but cannot be opened is treated like a missing cable, and the box
// names the cause (no driver, no access, the program holding the port) and what to do about it. Of several
// cables, the user picks one.
class CableCheck {
public:
    // portOverride: a device the user named; it is used as it is, without searching.
    CableCheck(CablePort& device, CableFinder& finder, PortOpener& opener, const PortSystem& system,
               WizardView& view, const TextDatabase& texts, QString portOverride = {})
        : device_(device),
          finder_(finder),
          opener_(opener),
          system_(system),
          view_(view),
          texts_(texts),
          portOverride_(std::move(portOverride)) {}

    // True: the port is open. False: the user gave up, and start-up ends.
    bool TestInterface();
    // Later, before talking to the DC: when the port has gone while the wizard waited, says so and opens it
    // again. False: the user chose to stay where they were.
    bool Reconnect();

private:
    enum class Search { Found, Missing, GaveUp };
    Search FindPort();
    Search Choose(const std::vector<FoundCable>& cables);
    std::optional<CableDiagnosis> TryOpen();
    bool Connect(std::optional<CableDiagnosis> problem, bool atStartup);
    QString BoxText(const CableDiagnosis& d, bool atStartup) const;
    QString MissingCableText() const;

    CablePort& device_;
    CableFinder& finder_;
    PortOpener& opener_;
    const PortSystem& system_;
    WizardView& view_;
    const TextDatabase& texts_;
    QString portOverride_;
};
