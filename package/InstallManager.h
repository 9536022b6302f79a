// The install plan: which entry of which package goes where, and the manager that builds
// and carries it out. The manager's operations live with the subsystem that uses them:
// scan and plan in package/, the install engine in install/, the thread entry in app/.
#pragma once

#include <windows.h>

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

class CPackageReader;
class IInstallReporter;

enum EntryAction : uint32_t {
    ACTION_SKIP = 0,     // the installed file is at least as new
    ACTION_INSTALL = 1,  // no installed file of that name: written as a new file
    ACTION_UPGRADE = 2,  // an installed file of that name is replaced
};

// The version library's date: opaque to the wizard, which only zero-fills, stores and passes it.
struct DictDate {
    unsigned char bytes[16];
};

struct EntryItem {
    uint32_t index = 0;  // directory index in its package
    uint32_t size = 0;
    std::wstring dictId;   // lowercased
    std::wstring fileExt;  // lowercased, leading dot included
    std::wstring displayName;
    std::wstring dateText;
    std::wstring targetPath;  // empty until the plan decides
    EntryAction action = ACTION_SKIP;
};

struct PackageItem {
    std::wstring filePath;
    std::unique_ptr<std::vector<EntryItem>> entries;  // absent for an empty directory
};

struct InstalledDictItem {
    std::wstring fileName;  // lowercased, extension included
    std::wstring filePath;  // letter case as found
    DictDate fileDate{};    // all zero when the version library gave none
    // The host cannot see this file's bytes: a run was killed before it registered them, or the
    // host's configuration has no section naming the dictionary. An entry of its own date
    // installs it again, and so registers it.
    bool unregistered = false;
};

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

    // Thread-side entry: builds the plan if needed, then installs it reporting to hDlg.
    bool RunInstall(HWND hDlg);
    // The same to any reporter: false when the plan cannot be built or the walk was stopped.
    bool InstallPlan(IInstallReporter& reporter);

    // What callers outside the engine read of the plan.
    const std::list<PackageItem>& Packages() const { return m_packages; }
    const std::list<InstalledDictItem>& Installed() const { return m_installed; }

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

    bool m_bPlanned = false;
    std::list<PackageItem> m_packages;
    std::list<InstalledDictItem> m_installed;

private:
    bool EnsurePlanned();
};
