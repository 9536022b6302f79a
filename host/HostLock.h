// One install per host at a time: a named mutex for the host's dictionary data directory,
// whichever folder a wizard was started from.
#pragma once

#include <string>

#include "base/ScopedWin.h"

enum class HostLockResult {
    Acquired,  // this process holds the lock until it ends or the handle is closed
    Busy,      // another wizard holds it
    NoHost,    // the host's data directory cannot be read: there is nothing to install into
};

// The lock's name: the same for every spelling of the directory's path (letter case, short
// names, dots) that names the same folder.
std::wstring HostLockName(const std::wstring& dataDir);
HostLockResult AcquireHostInstallLock(qb::ScopedHandle& lock);
