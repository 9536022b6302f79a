// Moving a target file aside under its backup name, deleting it, and restoring it.
#pragma once

#include <windows.h>

#include <string>

#include "install/WorkFiles.h"

enum ReplaceStep {
    MoveAside = 0,
    Delete = 1,
    Restore = 2,
};

bool ReplaceTargetFile(const wchar_t* path, ReplaceStep step);
// The attributes to set before a rename: the current ones without read-only, or
// FILE_ATTRIBUTE_NORMAL when they cannot be read.
DWORD AttributesForRename(const wchar_t* path);
