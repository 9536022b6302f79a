#include "base/CrashPoint.h"
#include "install/InstallReporter.h"
#include "install/Recovery.h"
#include "install/WorkFiles.h"
#include "package/InstallManager.h"
#include "package/PackageReader.h"

bool CInstallManager::InstallPlan(IInstallReporter& reporter) {
    return EnsurePlanned() && InstallPackages(m_packages, reporter);
}

// Registration costs one proven replacement of the host's whole file, however many entries
// there are: each entry is first put in place with its unregistered mark (a kill from there on
// leaves it complete, and the next run registers it), and after the last one every section is
// written in one replacement. Only then does an entry count as done: its mark goes, its
// picture is copied and it is reported.
bool CInstallManager::InstallPackages(const std::list<PackageItem>& packages, IInstallReporter& reporter) {
    reporter.OnInstallBegin();
    std::vector<PlacedEntry> placed;
    const bool walked = PlaceEntries(packages, reporter, placed);
    // Also after a stop: what is in place stays, and the host is to see it.
    const bool reported = RegisterPlacedEntries(placed, reporter);
    if (!walked || !reported) return false;
    reporter.OnInstallEnd();
    return true;
}

bool CInstallManager::PlaceEntries(const std::list<PackageItem>& packages, IInstallReporter& reporter,
                                   std::vector<PlacedEntry>& placed) {
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
            if (outcome.done) {
                placed.push_back({&entry, std::move(outcome.mark)});
                continue;
            }
            if (!OnEntryFailed(reporter, entry, outcome)) {
                reader.Close();
                return false;
            }
        }
        reader.Close();
    }
    return true;
}

bool CInstallManager::RegisterPlacedEntries(const std::vector<PlacedEntry>& placed, IInstallReporter& reporter) {
    if (placed.empty()) return true;
    std::vector<const EntryItem*> entries;
    for (const PlacedEntry& item : placed) entries.push_back(item.entry);
    std::vector<DWORD> errors;
    RegisterDictionaries(entries, errors);
    QB_CRASH_POINT();
    bool goOn = true;
    for (size_t i = 0; i < placed.size(); ++i) {
        const EntryItem& entry = *placed[i].entry;
        if (errors[i] != ERROR_SUCCESS) {
            // The dictionary is complete and stays; its mark makes the next run install and
            // register it again.
            if (goOn) goOn = OnEntryFailed(reporter, entry, {false, errors[i], {}, true});
            continue;
        }
        DeleteWorkFile(placed[i].mark);
        QB_CRASH_POINT();
        CopyPicture(entry, reporter);
        if (goOn) reporter.OnItemDone(entry);
    }
    return goOn;
}

// The install removed the work files it made that meant nothing yet; what is left beside
// the target is settled by the same table as at start-up: a backup without its target, or
// beside a target that may be partial, is put back, and nothing else is touched.
bool CInstallManager::OnEntryFailed(IInstallReporter& reporter, const EntryItem& entry, const EntryOutcome& outcome) {
    SettleTarget(entry.targetPath);
    return outcome.registering ? reporter.OnRegistrationFailed(entry, outcome.error)
                               : reporter.OnItemFailed(entry, outcome.error);
}
