#include "install/ReplaceTarget.h"

#include "host/ProcessControl.h"

namespace {

bool ClearAndRename(const wchar_t* path, DWORD attributes, const std::wstring& backup) {
    return SetFileAttributesW(path, attributes) && MoveFileW(path, backup.c_str());
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
        if (attributes == INVALID_FILE_ATTRIBUTES) return MoveFileW(backup.c_str(), path) != FALSE;
        // A target another process holds open without delete sharing may still be written:
        // the previous bytes go back over the partial ones. A read-only target stays as it is.
        if (attributes & FILE_ATTRIBUTE_READONLY) return false;
        if (GetFileAttributesW(backup.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
        if (!CopyFileW(backup.c_str(), path, FALSE)) return false;
        DeleteFileW(backup.c_str());
        return true;
    }
    return MoveFileW(backup.c_str(), path) != FALSE;
}

}  // namespace

std::wstring BackupPathOf(const std::wstring& path) { return path + BACKUP_SUFFIX; }

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
