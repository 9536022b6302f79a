#include "install/ReplaceTarget.h"

#include "base/ScopedWin.h"
#include "host/ProcessControl.h"

namespace {

bool ClearAndRename(const wchar_t* path, DWORD attributes, const std::wstring& backup) {
    return SetFileAttributesW(path, attributes) && MoveDurably(path, backup, false);
}

bool MoveTargetAside(const wchar_t* path) {
    const DWORD attributes = AttributesForRename(path);
    const std::wstring backup = BackupPathOf(path);
    if (ClearAndRename(path, attributes, backup)) return true;
    // The host's service may hold the file; once it is gone, one more attempt.
    if (!StopDictService()) return false;
    return ClearAndRename(path, attributes, backup);
}

// The backup takes the target's name in one step, so that no moment is without the
// dictionary; a target deleted first and then renamed over could be a delete that only waits
// (a scanner holds the file with delete sharing), and the rename would then fail with the
// name gone for good once the scanner lets go. A target that cannot be replaced (held without
// delete sharing) is rewritten from the backup's bytes where it is; the backup goes only once
// they are on the disk.
bool RestoreTarget(const wchar_t* path) {
    const std::wstring backup = BackupPathOf(path);
    if (!FileExistsAt(backup)) return false;
    // A read-only target stays as it is.
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return false;
    if (MoveDurably(backup, path, true)) return true;
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if (!CopyDurably(backup, path, OPEN_EXISTING)) return false;
    return DeleteWorkFile(backup);
}

}  // namespace

DWORD AttributesForRename(const wchar_t* path) {
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return FILE_ATTRIBUTE_NORMAL;
    return attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
}

bool ReplaceTargetFile(const wchar_t* path, ReplaceStep step) {
    if (path == nullptr) return false;
    switch (step) {
        case MoveAside:
            return MoveTargetAside(path);
        case Delete:
            return DeleteFileW(path) != FALSE;
        case Restore:
            return RestoreTarget(path);
    }
    return false;
}

bool CanRewriteInPlace(const std::wstring& path, DWORD& error) {
    qb::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    error = file ? ERROR_SUCCESS : GetLastError();
    return file.valid();
}
