// One install per host at a time: a named mutex for the host's dictionary data directory,
// whichever folder a wizard was started from and however the directory's path is spelled.
#pragma once

#include <windows.h>

#include <string>

#include "base/ScopedWin.h"

// The lock's permissions: SYSTEM and the Administrators all access, an interactive user
// enough to wait for the lock and let it go. Explicit, so that a deployment running as SYSTEM
// and an elevated administrator can each open the other's lock: with its maker's default
// permissions the other would get "access denied" instead of "busy".
#define HOST_LOCK_SDDL L"D:P(A;;0x001f0001;;;SY)(A;;0x001f0001;;;BA)(A;;0x00100001;;;IU)"
// What a wizard asks of the lock, whoever made it.
#define HOST_LOCK_ACCESS (SYNCHRONIZE | MUTEX_MODIFY_STATE)

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
// The lock of that name, made with HOST_LOCK_SDDL when it does not exist yet.
HostLockResult AcquireHostLockNamed(const std::wstring& name, qb::ScopedHandle& lock, DWORD& error);
