#pragma once

#include <iosfwd>

#include "app/wizard_assembly.h"

// kav-update --identify: finds the cable as the wizard does (its boxes go to the wizard's view), identifies
// the DC and tells whether a backup of it waits for a restore, in plain English lines on `out` and in the
// run log. Nothing is written to the DC, and it is not sent to Deep Sleep. Exit status: 0 a DC answered, 1
// none did (no cable, or none chosen), 2 start-up ended (no texts, a firmware file that was rejected).
int RunIdentify(WizardAssembly& wizard, const CommandLine& cl, std::ostream& out);

// The text database in the language asked for; false when it is unusable.
bool OpenCommandTexts(TextDatabase& texts, const StartupOptions& o);
