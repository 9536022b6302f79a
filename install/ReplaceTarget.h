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

// MoveAside: the target to its backup name (never over a file), the host's service stopped
// and tried again when it holds the target. Delete: the target deleted. Restore: the backup back at the target's name, never leaving a moment
// without the dictionary.
bool ReplaceTargetFile(const wchar_t* path, ReplaceStep step);
// Whether the target can have its bytes rewritten where it is, with the sharing the rewrite
// uses; error says why not.
bool CanRewriteInPlace(const std::wstring& path, DWORD& error);
// The attributes to set before a rename: the current ones without read-only, or
// FILE_ATTRIBUTE_NORMAL when they cannot be read.
DWORD AttributesForRename(const wchar_t* path);
