// One install per host at a time: a lock for the host's dictionary data directory, whichever
// folder a wizard was started from and however the directory's path is spelled. Only an
// administrator (or SYSTEM) can make or hold it, so no standard user can keep every
// deployment waiting:
// - a mutex in a private namespace whose boundary is the Administrators group
//   (HOST_LOCK_NAMESPACE), with no right for anyone else;
// - where the system has no private namespaces (Wine 8: CreateBoundaryDescriptorW fails and
//   the namespace calls are not implemented), a file in %ProgramData%\Quillbox (a folder
//   proven ours, SYSTEM and Administrators only) held open without sharing and deleted when
//   its holder closes it or ends.
#pragma once

#include <windows.h>

#include <string>

#include "base/ScopedWin.h"

#define HOST_LOCK_NAMESPACE L"Quillbox"
// The mutex and the lock file: SYSTEM and the Administrators all access, nobody else anything.
#define HOST_LOCK_SDDL L"D:P(A;;0x001f0001;;;SY)(A;;0x001f0001;;;BA)"
#define HOST_LOCK_FILE_SDDL L"D:P(A;;FA;;;SY)(A;;FA;;;BA)"
#define HOST_LOCK_FILE_SUFFIX L".lock"
// What a wizard asks of the lock, whoever made it: waiting, letting go, and reading its
// permissions.
#define HOST_LOCK_ACCESS (SYNCHRONIZE | MUTEX_MODIFY_STATE | READ_CONTROL)

enum class HostLockResult {
    Acquired,  // this process holds the lock until it ends or the handle is closed
    Busy,      // another wizard holds it
    NoHost,    // the host's data directory cannot be read: there is nothing to install into
    Failed,    // the lock could not be made at all (error: why)
};

// The lock's name, from the directory's identity (its volume's serial number and its file
// index), so that every path that reaches the folder (letter case, short names, dots,
// another drive letter, the \\?\ form) gives one name. Only when the identity cannot be read
// is it made from the full long path's text. A plain name: no namespace, no backslash.
std::wstring HostLockName(const std::wstring& dataDir);
HostLockResult AcquireHostInstallLock(qb::ScopedHandle& lock, DWORD& error);
// The lock of that name, made when it does not exist yet.
HostLockResult AcquireHostLockNamed(const std::wstring& name, qb::ScopedHandle& lock, DWORD& error);
// Whether this system gives the lock a private namespace (else the lock is a file).
bool HostLocksInPrivateNamespace();
