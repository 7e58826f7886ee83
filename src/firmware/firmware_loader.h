#pragma once

#include <QString>

#include "resources/string_resources.h"
#include "run/firmware_image.h"
#include "run/task_list.h"
#include "run/wizard_view.h"
#include "support/text_database.h"

// The demo firmware's file name, as the build generates and installs it.
inline constexpr const char* kDemoFirmwareName = "KAV.1F.demo.FWR";

// Reads, unscrambles and checks the firmware file at `path`, once, at start-up. True: `fw` holds the file's
// values. False: the file was rejected; the user has been told and start-up must end.
// deviceVersions is string resource 20001; its fifth field is the lowest updatable device version.
bool LoadFirmwareFile(const QString& path, FirmwareImage& fw, TaskList& tasks, const TextDatabase& texts,
                      WizardView& view,
                      const QString& deviceVersions = LoadStringResource(ResourceDeviceVersions));
