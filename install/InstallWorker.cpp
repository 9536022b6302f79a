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
            reader.Close();
            const LRESULT answer =
                SendMessageW(hwnd, WM_WIZ_PACKAGE_BAD, reinterpret_cast<WPARAM>(package.filePath.c_str()), 0);
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

bool CInstallManager::OnEntryFailed(HWND hwnd, const EntryItem& entry) {
    if (entry.action == ACTION_INSTALL) {
        ReplaceTargetFile(entry.targetPath.c_str(), Delete);
    } else if (entry.action == ACTION_UPGRADE) {
        ReplaceTargetFile(entry.targetPath.c_str(), Restore);
    }
    const LRESULT answer = SendMessageW(hwnd, WM_WIZ_ITEM_FAILED, reinterpret_cast<WPARAM>(entry.displayName.c_str()),
                                        static_cast<LPARAM>(entry.action));
    return answer == 1;
}
