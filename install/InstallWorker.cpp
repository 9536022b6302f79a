#include "base/CrashPoint.h"
#include "install/InstallReporter.h"
#include "install/Recovery.h"
#include "install/WorkFiles.h"
#include "install/InstallManager.h"
#include "package/PackageReader.h"

bool CInstallManager::InstallPlan(IInstallReporter& reporter) {
    return EnsurePlanned() && InstallPackages(m_packages, reporter);
}

// Each entry in turn, to its end before the next begins: its begin line, its bytes put in
// place beside its unregistered mark, its registration proven in the host's file, its mark
// taken, its picture, and only then its result line. A kill at any point leaves every entry
// before it registered, and the one it cut either as it was or complete with its mark (the
// next run installs and registers it).
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
            EntryOutcome outcome = InstallEntry(entry, reporter, reader);
            const bool goOn = outcome.done ? FinishPlacedEntry({&entry, std::move(outcome.mark)}, reporter)
                                           : OnEntryFailed(reporter, entry, outcome);
            if (!goOn) {
                reader.Close();
                return false;
            }
        }
        reader.Close();
    }
    reporter.OnInstallEnd();
    return true;
}

bool CInstallManager::FinishPlacedEntry(const PlacedEntry& placed, IInstallReporter& reporter) {
    const EntryItem& entry = *placed.entry;
    std::vector<DWORD> errors;
    RegisterDictionaries({&entry}, errors);
    QB_CRASH_POINT();
    // The dictionary is complete and stays; its mark makes the next run install and register
    // it again.
    if (errors[0] != ERROR_SUCCESS) return OnEntryFailed(reporter, entry, {false, errors[0], {}, true});
    DeleteWorkFile(placed.mark);
    QB_CRASH_POINT();
    CopyPicture(entry, reporter);
    reporter.OnItemDone(entry);
    return true;
}

// The install removed the work files it made that meant nothing yet; what is left beside
// the target is settled by the same table as at start-up: a backup without its target, or
// beside a target that may be partial, is put back, and nothing else is touched.
bool CInstallManager::OnEntryFailed(IInstallReporter& reporter, const EntryItem& entry, const EntryOutcome& outcome) {
    SettleTarget(entry.targetPath);
    return outcome.registering ? reporter.OnRegistrationFailed(entry, outcome.error)
                               : reporter.OnItemFailed(entry, outcome.error);
}
