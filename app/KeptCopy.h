// The wizard as the copy an install kept beside its removal record, started from Windows'
// list of installed apps with /UNINSTALL: it removes what the record names and still
// matches, then its entry, the record and itself. It knows itself by the record beside it.
#pragma once

#include "app/RunLog.h"

bool IsKeptCopy();
// By hand a Yes/No box first and the outcome after; silent: neither. The exit code.
int RemoveKeptSetup(bool silent, CRunLog& log);
