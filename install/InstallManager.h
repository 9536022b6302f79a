// The manager of the install plan: it builds the plan from the scans (package/LocalScan.h,
// package/InstallPlan.h), owns its records, and carries it out through the install engine.
#pragma once

#include <windows.h>

#include <list>
#include <string>
#include <vector>

#include "package/PlanRecords.h"

class CPackageReader;
class IInstallReporter;

// One entry's install as it ended: done (its complete bytes at the dictionary's name, its
// unregistered mark beside it until its registration), or failed with the Windows error
// code of the step that failed.
struct EntryOutcome {
    bool done = false;
    DWORD error = ERROR_SUCCESS;
    std::wstring mark;  // done: the unregistered mark, named as the dictionary was found
    bool registering = false;  // failed: the dictionary is in place, its registration failed
};

// An entry whose dictionary is in place, waiting for its registration.
struct PlacedEntry {
    const EntryItem* entry;
    std::wstring mark;
};

class CInstallManager {
public:
    CInstallManager() = default;
    CInstallManager(const CInstallManager&) = delete;
    CInstallManager& operator=(const CInstallManager&) = delete;

    // Local scan.
    bool ScanPackages();
    bool ReadPackageEntries(PackageItem& package);
    bool ScanInstalled();

    // The plan, built once.
    bool BuildPlan();
    bool DecideActions(std::list<PackageItem>& packages, const std::list<InstalledDictItem>& installed);
    int CountPlannedEntries();
    uint32_t GetProgressTotal();
    void GetActionSummary(std::wstring& summary) const;

    // Thread-side entry: builds the plan if needed, then installs it while hDlg lives,
    // reporting to the dialog through reporter.
    bool RunInstall(HWND hDlg, IInstallReporter& reporter);
    // The same to any reporter: false when the plan cannot be built or the walk was stopped.
    bool InstallPlan(IInstallReporter& reporter);

    // The plan's lists. The non-const forms let a caller lay out a plan of its own (a test,
    // a benchmark) and mark it built.
    const std::list<PackageItem>& Packages() const { return m_packages; }
    const std::list<InstalledDictItem>& Installed() const { return m_installed; }
    std::list<PackageItem>& Packages() { return m_packages; }
    std::list<InstalledDictItem>& Installed() { return m_installed; }
    bool Planned() const { return m_bPlanned; }
    void MarkPlanned() { m_bPlanned = true; }

    // Install engine.
    // Each planned entry in turn: put in place, registered in the host's file, its picture
    // copied, and reported done or failed before the next one begins.
    bool InstallPackages(const std::list<PackageItem>& packages, IInstallReporter& reporter);
    bool OnEntryFailed(IInstallReporter& reporter, const EntryItem& entry, const EntryOutcome& outcome);
    // The entry's bytes at the dictionary's name, its unregistered mark kept; no registration.
    EntryOutcome InstallEntry(const EntryItem& entry, IInstallReporter& reporter, CPackageReader& reader);
    // Registers a placed entry, then takes its mark and copies its picture; reports it done or
    // failed. False when the answer to its failure stopped the walk.
    bool FinishPlacedEntry(const PlacedEntry& placed, IInstallReporter& reporter);
    // The entries' sections in one proven replacement of the host's file. errors[i]:
    // ERROR_SUCCESS when entry i's section reached the file, else why it did not. An edit the
    // file cannot prove (a value its encoding cannot hold) fails only its own entry.
    void RegisterDictionaries(const std::vector<const EntryItem*>& entries, std::vector<DWORD>& errors);
    bool RegisterDictionary(const EntryItem& entry);
    // writeError: ERROR_SUCCESS when the registration reached the host's file (also when the
    // wizard has no dictconfig.ini and only the id was written), else why it did not: no id,
    // no host file, a read-only one, or a replacement that failed.
    bool RegisterDictionary(const EntryItem& entry, DWORD& writeError);
    // Stops the service and writes "enable" into the section of every planned dictionary that
    // the host can see (it names itself with "id"); then starts the host when asked (a run with
    // nobody to see the host leaves it). A read-only host file is a failure.
    bool EnableDictionaries(bool launchHost = true);
    bool CopyDictionaryImage(const wchar_t* dictId);
    // error: why the copy failed (ERROR_FILE_NOT_FOUND with no source picture).
    bool CopyDictionaryImage(const wchar_t* dictId, DWORD& error);
    // The entry's picture copied, and what became of it reported.
    void CopyPicture(const EntryItem& entry, IInstallReporter& reporter);
    // The dictionaries of the plan that are up to date and whose picture the host's picture
    // folder (which exists) lacks, while the setup folder has it; one entry per dictionary.
    std::vector<const EntryItem*> MissingPictures() const;
    // Their pictures copied from the setup folder, each one put back or failed reported.
    // Nothing is replaced, and no folder is made.
    void PutBackPictures(const std::vector<const EntryItem*>& entries, IInstallReporter& reporter);

private:
    bool EnsurePlanned();

    bool m_bPlanned = false;
    std::list<PackageItem> m_packages;
    std::list<InstalledDictItem> m_installed;
};
