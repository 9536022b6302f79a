// Runs that are not the wizard's dialog: the usage, a silent install, and a removal (asked
// for in a box, or silent). Each returns the process's exit code and logs it last.
#pragma once

#include "app/CommandLine.h"
#include "app/RunLog.h"

// True when the options ask for anything but the wizard's dialog.
bool RunsWithoutDialog(const WizardOptions& options, bool switchesKnown);
int RunWithoutDialog(const WizardOptions& options, bool switchesKnown, CRunLog& log);
