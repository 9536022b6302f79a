// One install per host at a time: a named mutex for the host's dictionary data directory,
// whichever folder a wizard was started from and however the directory's path is spelled.
#pragma once

#include <windows.h>

#include <string>

#include "base/ScopedWin.h"

enum class HostLockResult {
    Acquired,  // this process holds the lock until it ends or the handle is closed
    Busy,      // another wizard holds it
    NoHost,    // the host's data directory cannot be read: there is nothing to install into
    Failed,    // the lock could not be made at all (error: why)
};

// The lock's name, from the directory's identity (its volume's serial number and its file
// index), so that every path that reaches the folder (letter case, short names, dots,
// another drive letter, the \\?\ form) gives one name. Only when the identity cannot be read
// is it made from the full long path's text.
std::wstring HostLockName(const std::wstring& dataDir);
HostLockResult AcquireHostInstallLock(qb::ScopedHandle& lock, DWORD& error);
