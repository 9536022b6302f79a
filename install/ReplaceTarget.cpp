#include "install/ReplaceTarget.h"

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

bool RestoreTarget(const wchar_t* path) {
    const std::wstring backup = BackupPathOf(path);
    // A target that never got created (the copy failed before its output file existed)
    // must not keep the previous file hidden under the backup name.
    if (!DeleteFileW(path)) {
        const DWORD attributes = GetFileAttributesW(path);
        if (attributes == INVALID_FILE_ATTRIBUTES) return MoveDurably(backup, path, false);
        // A target another process holds open without delete sharing may still be written:
        // the previous bytes go back over the partial ones, and the backup goes only once
        // they are on the disk. A read-only target stays as it is.
        if (attributes & FILE_ATTRIBUTE_READONLY) return false;
        if (!FileExistsAt(backup)) return false;
        if (!CopyDurably(backup, path, OPEN_EXISTING)) return false;
        DeleteWorkFile(backup);
        return true;
    }
    return MoveDurably(backup, path, false);
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
