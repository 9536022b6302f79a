#include "host/HostLock.h"

#include <sddl.h>

#include <cstdint>
#include <cwchar>
#include <vector>

#include "base/NameFolding.h"
#include "base/ProtectedFolder.h"
#include "host/HostPaths.h"

namespace {

#define HOST_LOCK_PREFIX L"Quillbox.DictData."
// The namespace's boundary: only a token that holds the Administrators group can make or open it.
#define HOST_LOCK_BOUNDARY L"Quillbox.Administrators"
#define HOST_LOCK_NAMESPACE_SDDL L"D:P(A;;GA;;;SY)(A;;GA;;;BA)"

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

namespace {

struct HostNamespace {
    bool supported = false;
    HANDLE handle = nullptr;  // open for the life of the process, as the locks named in it
    DWORD error = ERROR_SUCCESS;
};

HostNamespace OpenHostNamespace() {
    HostNamespace result;
    HANDLE boundary = CreateBoundaryDescriptorW(HOST_LOCK_BOUNDARY, 0);
    // Without a boundary there are no private namespaces here: the other calls are not even
    // implemented under Wine 8 (they end the process), so none is made.
    if (boundary == nullptr) return result;
    result.supported = true;
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD adminsSize = sizeof admins;
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &adminsSize) ||
        !AddSIDToBoundaryDescriptor(&boundary, admins) ||
        !ConvertStringSecurityDescriptorToSecurityDescriptorW(HOST_LOCK_NAMESPACE_SDDL, SDDL_REVISION_1, &raw,
                                                              nullptr)) {
        result.error = GetLastError();
        DeleteBoundaryDescriptor(boundary);
        return result;
    }
    qb::ScopedLocalMemory descriptor(raw);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, raw, FALSE};
    result.handle = CreatePrivateNamespaceW(&attributes, boundary, HOST_LOCK_NAMESPACE);
    if (result.handle == nullptr && GetLastError() == ERROR_ALREADY_EXISTS)
        result.handle = OpenPrivateNamespaceW(boundary, HOST_LOCK_NAMESPACE);
    if (result.handle == nullptr) result.error = GetLastError();
    DeleteBoundaryDescriptor(boundary);
    return result;
}

const HostNamespace& TheHostNamespace() {
    static const HostNamespace opened = OpenHostNamespace();
    return opened;
}

bool DescriptorOf(const wchar_t* sddl, qb::ScopedLocalMemory& owned, DWORD& error) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
        error = GetLastError();
        return false;
    }
    owned.reset(descriptor);
    return true;
}

HostLockResult AcquireNamespaceMutex(const std::wstring& name, qb::ScopedHandle& lock, DWORD& error) {
    qb::ScopedLocalMemory descriptor;
    if (!DescriptorOf(HOST_LOCK_SDDL, descriptor, error)) return HostLockResult::Failed;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.get(), FALSE};
    const std::wstring full = HOST_LOCK_NAMESPACE L"\\" + name;
    qb::ScopedHandle mutex(CreateMutexExW(&attributes, full.c_str(), 0, HOST_LOCK_ACCESS));
    if (!mutex) {
        error = GetLastError();
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

// The file goes with its last handle, a killed holder's included.
HostLockResult AcquireLockFile(const std::wstring& name, qb::ScopedHandle& lock, DWORD& error) {
    std::wstring base;
    if (!ProgramDataDir(base)) {
        error = ERROR_PATH_NOT_FOUND;
        return HostLockResult::Failed;
    }
    const std::wstring folder = base + PROTECTED_ROOT_PIECE;
    qb::ScopedLocalMemory descriptor;
    if (!MakeProtectedFolder(folder, error) || !DescriptorOf(HOST_LOCK_FILE_SDDL, descriptor, error))
        return HostLockResult::Failed;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.get(), FALSE};
    qb::ScopedHandle file(CreateFileW((folder + L"\\" + name + HOST_LOCK_FILE_SUFFIX).c_str(),
                                      GENERIC_READ | GENERIC_WRITE | DELETE, 0, &attributes, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!file) {
        error = GetLastError();
        // Held (or its holder is letting go of it this moment).
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) return HostLockResult::Busy;
        return HostLockResult::Failed;
    }
    error = ERROR_SUCCESS;
    lock = std::move(file);
    return HostLockResult::Acquired;
}

}  // namespace

bool HostLocksInPrivateNamespace() { return TheHostNamespace().supported; }

HostLockResult AcquireHostLockNamed(const std::wstring& name, qb::ScopedHandle& lock, DWORD& error) {
    error = ERROR_SUCCESS;
    const HostNamespace& space = TheHostNamespace();
    if (!space.supported) return AcquireLockFile(name, lock, error);
    // A system with namespaces whose namespace cannot be had is a failure, never a reason to
    // lock another way: two ways to lock would not exclude each other.
    if (space.handle == nullptr) {
        error = space.error;
        return HostLockResult::Failed;
    }
    return AcquireNamespaceMutex(name, lock, error);
}
