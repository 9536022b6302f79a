#include "install/InstallReporter.h"
#include "install/ReplaceTarget.h"
#include "package/InstallManager.h"
#include "package/PackageReader.h"

bool CInstallManager::InstallPackages(const std::list<PackageItem>& packages, IInstallReporter& reporter) {
    reporter.OnInstallBegin();
    for (const PackageItem& package : packages) {
        if (!package.entries) continue;
        CPackageReader reader;
        if (!reader.Open(package.filePath.c_str())) {
            const DWORD error = GetLastError();
            // Reported while the reader still holds the package, so that nothing replaces it
            // under the user's eyes.
            const bool goOn = reporter.OnPackageBad(package.filePath, error);
            reader.Close();
            if (!goOn) return false;
            continue;
        }
        for (const EntryItem& entry : *package.entries) {
            if (entry.action == ACTION_SKIP) continue;
            const EntryOutcome outcome = InstallEntry(entry, reporter, reader);
            if (outcome.done) continue;
            if (!OnEntryFailed(reporter, entry, outcome)) {
                reader.Close();
                return false;
            }
        }
        reader.Close();
    }
    reporter.OnInstallEnd();
    return true;
}

// Undoes what InstallEntry changed for this entry, and only that: a target it never wrote
// is never deleted, and only a backup it made complete is put back.
bool CInstallManager::OnEntryFailed(IInstallReporter& reporter, const EntryItem& entry, const EntryOutcome& outcome) {
    const EntryChanges& changes = outcome.changes;
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
    return reporter.OnItemFailed(entry, outcome.error);
}
