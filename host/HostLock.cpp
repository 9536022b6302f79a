#include "host/HostLock.h"

#include <sddl.h>

#include <cstdint>
#include <cwchar>
#include <vector>

#include "base/NameFolding.h"
#include "host/HostPaths.h"

namespace {

#define HOST_LOCK_PREFIX L"Global\\Quillbox.DictData."

std::wstring CallForPath(DWORD (*call)(const wchar_t*, wchar_t*, DWORD), const std::wstring& path) {
    const DWORD needed = call(path.c_str(), nullptr, 0);
    if (needed == 0) return path;
    std::vector<wchar_t> buffer(needed + 1);
    const DWORD length = call(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size()) return path;
    return std::wstring(buffer.data(), length);
}

DWORD FullPath(const wchar_t* path, wchar_t* buffer, DWORD size) { return GetFullPathNameW(path, size, buffer, nullptr); }
DWORD LongPath(const wchar_t* path, wchar_t* buffer, DWORD size) { return GetLongPathNameW(path, buffer, size); }

bool FolderIdentity(const std::wstring& dir, BY_HANDLE_FILE_INFORMATION& info) {
    // Backup semantics open a directory; no access right is needed to read its identity.
    qb::ScopedHandle folder(CreateFileW(dir.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return folder && GetFileInformationByHandle(folder.get(), &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (info.nFileIndexHigh | info.nFileIndexLow) != 0;
}

// Object names may not hold backslashes and are limited in length: the path is hashed
// (FNV-1a over its UTF-16 units).
uint64_t PathHash(const std::wstring& dataDir) {
    std::wstring path = FoldedName(CallForPath(LongPath, CallForPath(FullPath, dataDir)));
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    uint64_t hash = 0xcbf29ce484222325ull;
    for (wchar_t unit : path) {
        hash ^= static_cast<uint16_t>(unit);
        hash *= 0x100000001b3ull;
    }
    return hash;
}

}  // namespace

std::wstring HostLockName(const std::wstring& dataDir) {
    wchar_t name[80];
    BY_HANDLE_FILE_INFORMATION info;
    if (FolderIdentity(dataDir, info)) {
        swprintf(name, 80, HOST_LOCK_PREFIX L"%08lx.%08lx%08lx", static_cast<unsigned long>(info.dwVolumeSerialNumber),
                 static_cast<unsigned long>(info.nFileIndexHigh), static_cast<unsigned long>(info.nFileIndexLow));
    } else {
        swprintf(name, 80, HOST_LOCK_PREFIX L"path.%016llx", static_cast<unsigned long long>(PathHash(dataDir)));
    }
    return name;
}

HostLockResult AcquireHostInstallLock(qb::ScopedHandle& lock, DWORD& error) {
    error = ERROR_SUCCESS;
    std::wstring dataDir;
    if (!GetDictDataDir(dataDir)) return HostLockResult::NoHost;
    return AcquireHostLockNamed(HostLockName(dataDir), lock, error);
}

HostLockResult AcquireHostLockNamed(const std::wstring& name, qb::ScopedHandle& lock, DWORD& error) {
    error = ERROR_SUCCESS;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(HOST_LOCK_SDDL, SDDL_REVISION_1, &descriptor, nullptr)) {
        error = GetLastError();
        return HostLockResult::Failed;
    }
    qb::ScopedLocalMemory owned(descriptor);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    // Only the rights a wizard needs are asked for, so that a lock made by another account opens.
    qb::ScopedHandle mutex(CreateMutexExW(&attributes, name.c_str(), 0, HOST_LOCK_ACCESS));
    if (!mutex) {
        error = GetLastError();
        // The name is held by a lock this account may not open: another account's wizard made
        // it (an earlier build gave it its maker's default permissions).
        if (error == ERROR_ACCESS_DENIED) return HostLockResult::Busy;
        return HostLockResult::Failed;
    }
    // A wizard that was killed leaves the lock abandoned; its work is recovered by whoever
    // takes it next.
    const DWORD waited = WaitForSingleObject(mutex.get(), 0);
    if (waited == WAIT_FAILED) {
        error = GetLastError();
        return HostLockResult::Failed;
    }
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return HostLockResult::Busy;
    lock = std::move(mutex);
    return HostLockResult::Acquired;
}
