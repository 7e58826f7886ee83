#pragma once

#include <QString>
#include <functional>

#include "resources/string_resources.h"
#include "run/session.h"
#include "run/task_list.h"
#include "run/wizard_view.h"
#include "support/text_database.h"

// The demo firmware's file name, as the build generates and installs it.
inline constexpr const char* kDemoFirmwareName = "KAV.1F.demo.FWR";

// Reads, unscrambles and checks the firmware file at session.wizard.FirmwareFilePath, once, at start-up.
// True: session.firmware holds the file's values and the link's receive buffers are sized for it. False: the
// file was rejected; the user has been told and start-up must end.
// deviceVersions is string resource 20001; its fifth field is the lowest updatable device version.
bool GetCode(Session& session, TaskList& tasks, const TextDatabase& texts, WizardView& view,
             const std::function<void()>& ResetStage,
             const QString& deviceVersions = LoadStringResource(ResourceDeviceVersions));
