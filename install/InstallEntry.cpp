#include "app/WizardMessages.h"
#include "install/OutputFile.h"
#include "install/ReplaceTarget.h"
#include "package/InstallManager.h"
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

}  // namespace

bool CInstallManager::InstallEntry(const EntryItem& entry, HWND hwnd, CPackageReader& reader) {
    SendEntryMessage(hwnd, WM_WIZ_ITEM_BEGIN, entry);
    const bool upgrade = entry.action == ACTION_UPGRADE;
    // When the move aside fails the new data goes over the existing file in place.
    if (upgrade) ReplaceTargetFile(entry.targetPath.c_str(), MoveAside);

    if (!reader.SeekToEntry(entry.index)) return false;
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
