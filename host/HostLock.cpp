#include "host/HostLock.h"

#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <vector>

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

}  // namespace

std::wstring HostLockName(const std::wstring& dataDir) {
    std::wstring path = CallForPath(LongPath, CallForPath(FullPath, dataDir));
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    if (!path.empty()) CharLowerBuffW(&path[0], static_cast<DWORD>(path.size()));
    // Object names may not hold backslashes and are limited in length: the path is hashed
    // (FNV-1a over its UTF-16 units).
    uint64_t hash = 0xcbf29ce484222325ull;
    for (wchar_t unit : path) {
        hash ^= static_cast<uint16_t>(unit);
        hash *= 0x100000001b3ull;
    }
    wchar_t name[64];
    swprintf(name, 64, HOST_LOCK_PREFIX L"%016llx", static_cast<unsigned long long>(hash));
    return name;
}

HostLockResult AcquireHostInstallLock(qb::ScopedHandle& lock) {
    std::wstring dataDir;
    if (!GetDictDataDir(dataDir)) return HostLockResult::NoHost;
    qb::ScopedHandle mutex(CreateMutexW(nullptr, FALSE, HostLockName(dataDir).c_str()));
    if (!mutex) return HostLockResult::Busy;
    // A wizard that was killed leaves the lock abandoned; its work is recovered by whoever
    // takes it next.
    const DWORD waited = WaitForSingleObject(mutex.get(), 0);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return HostLockResult::Busy;
    lock = std::move(mutex);
    return HostLockResult::Acquired;
}
