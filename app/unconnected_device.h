#pragma once

#include "wizard/device_operations.h"
#include "wizard/session.h"

// The device side of a build without a device link: there is no firmware to read, no cable is looked for, and
// no DC ever answers, so the wizard stays on its first page.
class UnconnectedDevice final : public DeviceOperations {
public:
    explicit UnconnectedDevice(Session& session) : session_(session) {}

    bool GetCode() override { return true; }
    bool TestInterface() override { return true; }
    bool ReadDeviceId() override { return false; }
    bool SetDeepSleep() override {
        session_.UpdateAborted = true;
        return false;
    }
    bool UpdateFirmware() override { return false; }
    void ProfileRecovering() override {}
    void StopLink() override {
        session_.link.LinkStop = true;
        session_.link.LinkError = true;
    }
    void ReleaseLink() override {
        session_.link.ReceiveBuffer.resize(1);
        session_.link.ReadBuffer.resize(1);
    }

private:
    Session& session_;
};
