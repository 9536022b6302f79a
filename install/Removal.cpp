#include "install/Removal.h"

#include <cstring>
#include <vector>

#include "base/CrashPoint.h"
#include "base/ScopedWin.h"
#include "host/HostPaths.h"
#include "install/DictConfig.h"
#include "install/InstallEngine.h"
#include "install/WorkFiles.h"
#include "package/InstallManager.h"
#include "package/PackageReader.h"

namespace {

qb::ScopedHandle OpenForReading(const std::wstring& path) {
    return qb::ScopedHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

bool ReadExactly(HANDLE file, void* buffer, DWORD count) {
    DWORD got = 0;
    return ReadFile(file, buffer, count, &got, nullptr) && got == count;
}

bool FileSize(HANDLE file, uint64_t& size) {
    LARGE_INTEGER value;
    if (!GetFileSizeEx(file, &value)) return false;
    size = static_cast<uint64_t>(value.QuadPart);
    return true;
}

InstalledMatch Unreadable(DWORD& error) {
    error = GetLastError();
    return InstalledMatch::Unreadable;
}

}  // namespace

InstalledMatch MatchInstalledEntry(const EntryItem& entry, CPackageReader& reader, DWORD& error) {
    error = ERROR_SUCCESS;
    if (entry.targetPath.empty() || !FileExistsAt(entry.targetPath)) return InstalledMatch::Absent;
    qb::ScopedHandle installed = OpenForReading(entry.targetPath);
    uint64_t size = 0;
    if (!installed || !FileSize(installed.get(), size)) return Unreadable(error);
    if (size != entry.size) return InstalledMatch::Different;

    std::vector<unsigned char> mine(HASH_BLOCK_BYTES);
    if (reader.sealed()) {
        CSha256 hash;
        for (uint64_t left = size; left > 0;) {
            const DWORD count = static_cast<DWORD>(left < mine.size() ? left : mine.size());
            if (!ReadExactly(installed.get(), mine.data(), count)) return Unreadable(error);
            hash.Update(mine.data(), count);
            left -= count;
        }
        EntryDigest digest{};
        if (!hash.Finish(digest)) return Unreadable(error);
        return digest == reader.digest(entry.index) ? InstalledMatch::Same : InstalledMatch::Different;
    }

    if (!reader.SeekToEntry(entry.index)) return Unreadable(error);
    unsigned char chunk[CHUNK_SIZE];
    uint64_t compared = 0;
    for (;;) {
        uint32_t count = CHUNK_SIZE;
        const int more = reader.ReadChunk(entry.index, chunk, count);
        if (more < 0) return Unreadable(error);
        if (count > 0) {
            if (!ReadExactly(installed.get(), mine.data(), count)) return Unreadable(error);
            if (std::memcmp(chunk, mine.data(), count) != 0) return InstalledMatch::Different;
            compared += count;
        }
        if (more == 0) break;
    }
    return compared == size ? InstalledMatch::Same : InstalledMatch::Different;
}

bool RemoveInstalledEntry(const EntryItem& entry, DWORD& error) {
    const std::wstring& target = entry.targetPath;
    const std::wstring mark = UnregisteredMarkOf(target);
    if (!CreateMarkDurably(mark)) {
        error = GetLastError();
        DeleteWorkFile(mark);
        return false;
    }
    QB_CRASH_POINT();
    if (!UnregisterDictionary(entry.dictId, error)) {
        // Still registered and whole: the mark would only make the next install redo it.
        DeleteWorkFile(mark);
        return false;
    }
    QB_CRASH_POINT();
    // The picture goes while the dictionary and its mark are still there: a kill after it
    // leaves an unregistered dictionary that the next removal takes, or the next install
    // installs again with its picture. It goes only when it is the one this setup folder
    // would copy.
    const std::wstring pictureName = entry.dictId + DICT_IMAGE_EXTENSION;
    std::wstring ours, theirs;
    if (GetPackageImagePath(pictureName.c_str(), ours) && GetHostImagePath(pictureName.c_str(), theirs) &&
        SameFileBytes(ours, theirs)) {
        DeleteWorkFile(theirs);
        QB_CRASH_POINT();
    }
    if (!DeleteWorkFile(target)) {
        // Installed and unregistered: the mark stays, so the next install registers it again.
        error = GetLastError();
        return false;
    }
    QB_CRASH_POINT();
    DeleteWorkFile(mark);
    QB_CRASH_POINT();
    error = ERROR_SUCCESS;
    return true;
}

bool SameFileBytes(const std::wstring& first, const std::wstring& second) {
    qb::ScopedHandle a = OpenForReading(first), b = OpenForReading(second);
    uint64_t sizeA = 0, sizeB = 0;
    if (!a || !b || !FileSize(a.get(), sizeA) || !FileSize(b.get(), sizeB) || sizeA != sizeB) return false;
    std::vector<unsigned char> bytesA(CHUNK_SIZE * 32), bytesB(bytesA.size());
    for (uint64_t left = sizeA; left > 0;) {
        const DWORD count = static_cast<DWORD>(left < bytesA.size() ? left : bytesA.size());
        if (!ReadExactly(a.get(), bytesA.data(), count) || !ReadExactly(b.get(), bytesB.data(), count)) return false;
        if (std::memcmp(bytesA.data(), bytesB.data(), count) != 0) return false;
        left -= count;
    }
    return true;
}
