#pragma once

#include <QString>
#include <functional>

#include "run/session.h"
#include "wizard/device_operations.h"

// Device operations whose outcomes a test chooses; counts what the stage machine asked for.
class FakeDevice final : public DeviceOperations {
public:
    explicit FakeDevice(Session& s) : session(s) {}

    bool GetCode() override {
        ++getCodeCalls;
        return codeOk;
    }
    bool TestInterface() override {
        ++testInterfaceCalls;
        return interfaceOk;
    }
    bool ReadDeviceId() override {
        ++readIdCalls;
        if (!dcAnswers)
            return false;
        session.device.DeviceIdText = deviceId;
        return true;
    }
    bool SetDeepSleep() override {
        deepSleepRequests.push_back(session.EnterDeepSleep);
        session.UpdateAborted = !deepSleepOk;
        return deepSleepOk;
    }
    bool UpdateFirmware() override {
        ++updateCalls;
        if (duringUpdate)
            duringUpdate();
        session.UpdateAborted = !updateOk;
        return updateOk;
    }
    void ProfileRecovering() override { ++recoveries; }
    void StopLink() override {
        ++stopLinkCalls;
        session.link.LinkStop = session.link.LinkError = true;
    }
    void ReleaseLink() override { ++releaseCalls; }

    Session& session;
    bool codeOk = true, interfaceOk = true, dcAnswers = true, deepSleepOk = true, updateOk = true;
    QString deviceId = QStringLiteral("KAV1F V1A 0512KB");
    std::function<void()> duringUpdate;  // runs inside UpdateFirmware, as clicks during a wait would
    int getCodeCalls = 0, testInterfaceCalls = 0, readIdCalls = 0, updateCalls = 0, recoveries = 0;
    int stopLinkCalls = 0, releaseCalls = 0;
    std::vector<bool> deepSleepRequests;  // EnterDeepSleep at each call
};
