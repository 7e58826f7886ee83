#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

#include "firmware/firmware_image.h"
#include "link/link_state.h"
#include "profile/profile_state.h"

// What the wizard knows of the connected DC.
struct DeviceState {
    QString DeviceIdText;  // the 16-character identification
    QString DeviceVersion;
    std::uint8_t DeviceSubVersion = 0;
    std::uint8_t InterfacePortNumber = 0;  // Windows: COM port number, 0 = not found
    QString InterfacePortName;             // the device path or port name actually opened
};

// The form's own state.
struct WizardState {
    int CurrentStage = 1;
    QStringList ResourceFields;
    QString FirmwareFilePath;
    QString ProgramOnClose;
    int LanguageColumn = 1;
    bool ProfileRestored = true;
};

// Everything that lives for the whole run, owned in one place and handed out by reference.
struct Session {
    QString AppDir;  // the application folder: firmware file, backup files, agreement file
    WizardState wizard;
    DeviceState device;
    LinkState link;
    FirmwareImage firmware;
    ProfileState profile;
    bool UpdateAborted = false;
    bool EnterDeepSleep = false;
};
