#include "install/InstallReporter.h"
#include "install/Recovery.h"
#include "package/InstallManager.h"
#include "package/PackageReader.h"

bool CInstallManager::InstallPlan(IInstallReporter& reporter) {
    return EnsurePlanned() && InstallPackages(m_packages, reporter);
}

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

// The install removed the work files it made that meant nothing yet; what is left beside
// the target is settled by the same table as at start-up: a backup without its target, or
// beside a target that may be partial, is put back, and nothing else is touched.
bool CInstallManager::OnEntryFailed(IInstallReporter& reporter, const EntryItem& entry, const EntryOutcome& outcome) {
    SettleTarget(entry.targetPath);
    return reporter.OnItemFailed(entry, outcome.error);
}
