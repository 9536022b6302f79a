// Keeps the removal record and the entry of installed apps in step with an install. It sits
// between the install engine and whoever watches it: before the first entry it marks the
// record as pending (a kill from here on may leave dictionaries the record does not name
// yet), and once the last entry is done, before the watcher hears of the end, it writes
// the kept copy, the record and the entry, and takes the mark away.
//
// A run of the same setup that finds the mark (an install, a run with nothing to install, a
// removal) settles it: every dictionary whose installed bytes are exactly this setup's entry
// goes into the record.
#pragma once

#include <functional>
#include <list>
#include <string>
#include <vector>

#include "install/InstallReporter.h"
#include "install/RemovalRecord.h"
#include "install/SetupIdentity.h"
#include "package/InstallManager.h"

// One line for the run's log.
using RecordNote = std::function<void(const std::wstring&)>;

// The identity of the setup folder beside the running wizard, from its packages.
SetupIdentity IdentityOfSetup(const std::list<PackageItem>& packages);

class CRecordKeeper final : public IInstallReporter {
public:
    CRecordKeeper(IInstallReporter& forward, const std::list<PackageItem>& packages, RecordNote note);

    void OnInstallBegin() override;
    void OnInstallEnd() override;
    void OnItemBegin(const EntryItem& entry) override { m_forward.OnItemBegin(entry); }
    void OnStep() override { m_forward.OnStep(); }
    void OnItemDone(const EntryItem& entry) override;
    bool OnItemFailed(const EntryItem& entry, DWORD error) override { return m_forward.OnItemFailed(entry, error); }
    bool OnPackageBad(const std::wstring& packagePath, DWORD error) override {
        return m_forward.OnPackageBad(packagePath, error);
    }
    bool OnRegistrationFailed(const EntryItem& entry, DWORD error) override {
        return m_forward.OnRegistrationFailed(entry, error);
    }
    void OnPicture(const EntryItem& entry, const CPictureOutcome& picture) override { m_forward.OnPicture(entry, picture); }

private:
    IInstallReporter& m_forward;
    const std::list<PackageItem>& m_packages;
    RecordNote m_note;
    std::vector<const EntryItem*> m_done;
    bool m_settle = false;  // an earlier install of this setup left its mark
};

// A run with nothing to install: settles only what an earlier install of this setup left
// pending; otherwise writes nothing.
void SettlePendingRecord(const std::list<PackageItem>& packages, const RecordNote& note);
// A change to what of this setup is installed outside an install (a picture put back): the
// record is marked pending first, so that a kill leaves it to be settled by the next run, then
// kept again from what is installed, the change included.
void ChangeAndKeepRecord(const std::list<PackageItem>& packages, const std::function<void()>& change,
                         const RecordNote& note);
// After the setup folder's own removal: what it took leaves the record; with nothing left,
// the entry, the record and the kept copy go.
void SettleRecordAfterRemoval(const std::list<PackageItem>& packages, const RecordNote& note);
