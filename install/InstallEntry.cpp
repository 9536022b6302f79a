#include "app/WizardMessages.h"
#include "install/OutputFile.h"
#include "install/ReplaceTarget.h"
#include "package/InstallManager.h"
#include "package/LocalScan.h"
#include "package/PackageFormat.h"
#include "package/PackageReader.h"

namespace {

void SendEntryMessage(HWND hwnd, UINT message, const EntryItem& entry) {
    SendMessageW(hwnd, message, reinterpret_cast<WPARAM>(entry.displayName.c_str()), static_cast<LPARAM>(entry.action));
}

// Copies the entry chunk by chunk, one progress step per chunk; true only when every byte
// of the entry was read and reached the disk.
bool CopyEntry(const EntryItem& entry, HWND hwnd, CPackageReader& reader, COutputFile& output) {
    char chunk[CHUNK_SIZE] = {};
    int readResult = 0;
    bool written = true;
    do {
        uint32_t count = CHUNK_SIZE;
        readResult = reader.ReadChunk(entry.index, chunk, count);
        written = output.Write(chunk, count);
        SendMessageW(hwnd, WM_WIZ_STEP, 0, 0);
    } while (readResult == 1 && written);
    return readResult == 0 && written;
}

// When the move aside failed the new data goes over the existing file in place; a copy
// under the backup name keeps the previous file for the failure path. False when the
// target exists and neither a backup nor a copy of it can be had: writing over it then
// could lose the only copy. A backup left by an earlier run is kept as it is.
bool KeepCopyOfTarget(const std::wstring& target) {
    if (GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
    const std::wstring backup = BackupPathOf(target);
    if (GetFileAttributesW(backup.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    if (CopyFileW(target.c_str(), backup.c_str(), TRUE)) return true;
    // A copy cut short (a full disk) must not later pass for the previous file.
    DeleteFileW(backup.c_str());
    return false;
}

bool SameEntryAsPlanned(const EntryItem& entry, const CPackageReader& reader) {
    const PackageDirRecord& record = reader.records()[entry.index];
    return LowerAscii(FieldText(record.dictId)) == entry.dictId && LowerAscii(FieldText(record.fileExt)) == entry.fileExt;
}

}  // namespace

bool CInstallManager::InstallEntry(const EntryItem& entry, HWND hwnd, CPackageReader& reader) {
    SendEntryMessage(hwnd, WM_WIZ_ITEM_BEGIN, entry);
    const bool upgrade = entry.action == ACTION_UPGRADE;
    if (upgrade && !ReplaceTargetFile(entry.targetPath.c_str(), MoveAside) && !KeepCopyOfTarget(entry.targetPath))
        return false;

    if (!reader.SeekToEntry(entry.index)) return false;
    // The package may have been replaced since the plan was made: an index that now names
    // another dictionary must not fill this one's file.
    if (!SameEntryAsPlanned(entry, reader)) return false;
    COutputFile output;
    if (!output.Open(entry.targetPath.c_str())) return false;
    const bool copied = CopyEntry(entry, hwnd, reader, output);
    const bool closed = output.Close();
    if (!copied || !closed) return false;

    if (upgrade) ReplaceTargetFile(BackupPathOf(entry.targetPath).c_str(), Delete);
    RegisterDictionary(entry);
    CopyDictionaryImage(entry.dictId.c_str());
    SendEntryMessage(hwnd, WM_WIZ_ITEM_DONE, entry);
    return true;
}
