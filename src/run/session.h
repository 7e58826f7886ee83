#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

#include "link/device_state.h"
#include "link/link_state.h"
#include "run/firmware_image.h"
#include "run/profile_state.h"

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
    QString AppDir;     // the application folder: firmware file, agreement file
    QString BackupDir;  // the profile backup files; empty: the application folder
    const QString& BackupFolder() const { return BackupDir.isEmpty() ? AppDir : BackupDir; }
    WizardState wizard;
    DeviceState device;
    LinkState link;
    FirmwareImage firmware;
    ProfileState profile;
    bool UpdateAborted = false;
    bool EnterDeepSleep = false;
};
