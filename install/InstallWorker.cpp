#include "app/WizardMessages.h"
#include "install/ReplaceTarget.h"
#include "package/InstallManager.h"
#include "package/PackageReader.h"

bool CInstallManager::InstallPackages(const std::list<PackageItem>& packages, HWND hwnd) {
    SendMessageW(hwnd, WM_WIZ_INSTALL_BEGIN, 0, 0);
    for (const PackageItem& package : packages) {
        if (!package.entries) continue;
        CPackageReader reader;
        if (!reader.Open(package.filePath.c_str())) {
            const LRESULT answer =
                SendMessageW(hwnd, WM_WIZ_PACKAGE_BAD, reinterpret_cast<WPARAM>(package.filePath.c_str()), 0);
            reader.Close();
            if (answer != 1) return false;
            continue;
        }
        for (const EntryItem& entry : *package.entries) {
            if (entry.action == ACTION_SKIP) continue;
            if (InstallEntry(entry, hwnd, reader)) continue;
            if (!OnEntryFailed(hwnd, entry)) {
                reader.Close();
                return false;
            }
        }
        reader.Close();
    }
    SendMessageW(hwnd, WM_WIZ_INSTALL_END, 0, 0);
    return true;
}

// Undoes what InstallEntry changed for this entry, and only that: a target it never wrote
// is never deleted, and only a backup it made complete is put back.
bool CInstallManager::OnEntryFailed(HWND hwnd, const EntryItem& entry) {
    const EntryChanges changes = m_entryChanges;
    m_entryChanges = EntryChanges{};
    const std::wstring& target = entry.targetPath;
    if (entry.action == ACTION_INSTALL) {
        if (changes.targetWritten) ReplaceTargetFile(target.c_str(), Delete);
    } else if (entry.action == ACTION_UPGRADE) {
        if (changes.targetWritten && (changes.movedAside || changes.copiedAside)) {
            // The new file beside the target marks it as possibly partial until the previous
            // bytes are back.
            if (ReplaceTargetFile(target.c_str(), Restore)) {
                DeleteWorkFile(UnregisteredMarkOf(target));
                DeleteWorkFile(NewFilePathOf(target));
            }
        } else if (changes.movedAside) {
            MoveDurably(BackupPathOf(target), target, false);
        } else if (changes.copiedAside) {
            DeleteWorkFile(BackupPathOf(target));
        }
    }
    const LRESULT answer = SendMessageW(hwnd, WM_WIZ_ITEM_FAILED, reinterpret_cast<WPARAM>(entry.displayName.c_str()),
                                        static_cast<LPARAM>(entry.action));
    return answer == 1;
}
