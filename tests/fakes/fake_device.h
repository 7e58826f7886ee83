#pragma once

#include <QString>
#include <functional>

#include "wizard/device_operations.h"

// Device operations whose outcomes a test chooses; counts what the stage machine asked for.
class FakeDevice final : public DeviceOperations {
public:
    bool LoadFirmware(const QString&) override { return Count(getCodeCalls, codeOk); }
    bool TestInterface() override { return Count(testInterfaceCalls, interfaceOk); }
    std::optional<QString> IdentifyDc() override {
        Count(readIdCalls, duringIdentify);
        return dcAnswers ? std::optional(deviceId) : std::nullopt;
    }
    bool EnterDeepSleep() override { return Count(deepSleepRequests, deepSleepOk); }
    bool UpdateFirmware(UpdateAttempt&) override { return Count(updateCalls, duringUpdate), updateOk; }
    void ProfileRecovering() override { Count(recoveries, duringRecovery); }
    void NameWaitingBackups(bool) override {}
    void RequestStop() override { stopRequested = true; }
    void ClearStop() override { stopRequested = false; }
    void StopLink() override { ++stopLinkCalls; }
    void ReleaseLink() override { ++releaseCalls; }

    // One more call; then the step's outcome, or what runs inside it.
    static bool Count(int& calls, bool outcome) { return ++calls, outcome; }
    static void Count(int& calls, const std::function<void()>& inside) {
        if (++calls, inside)
            inside();
    }

    bool codeOk = true, interfaceOk = true, dcAnswers = true, deepSleepOk = true, updateOk = true;
    QString deviceId = QStringLiteral("KAV1F V1A 0512KB");
    // Run inside the step, as clicks during its waits would.
    std::function<void()> duringIdentify, duringUpdate, duringRecovery;
    int getCodeCalls = 0, testInterfaceCalls = 0, readIdCalls = 0, updateCalls = 0, recoveries = 0;
    int stopLinkCalls = 0, releaseCalls = 0, deepSleepRequests = 0;
    bool stopRequested = false;
};
