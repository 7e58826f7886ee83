#pragma once

#include "app/wizard_assembly.h"

// kav-update --restore-profile FILE, in the terminal only: checks the file and the firmware file, finds the
// cable as the wizard does and puts the file's profile into its DC after a yes (the rows and boxes go to the
// wizard's view). Exit status: 0 the profile is confirmed in the DC, 1 it is not (or the DC did not answer),
// 2 refused with nothing written (a damaged file, another DC's or another model's, no firmware file, no
// cable, no texts), 3 not confirmed with yes. The file itself is never moved or deleted.
int RunRestoreProfile(WizardAssembly& wizard, const CommandLine& cl);
