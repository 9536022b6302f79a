// Keeps the removal record and the entry of installed apps in step with an install. It sits
// between the install engine and whoever watches it: before the first entry it writes the
// pending mark naming every dictionary about to be placed (its package bytes, and what the
// setup does to it: puts it there new, or replaces a build that is there), so that after a
// kill anywhere the record and the mark together name everything placed; once the last entry
// is done, before the watcher hears of the end, it writes the kept copy, the record and the
// entry, and takes the mark away only when every placed dictionary is recorded. The setup's
// entries found there with the same bytes and left go into the record too, for detection only.
//
// A run of the same setup that finds the mark (an install, a run with nothing to install, a
// removal) settles it: what the mark names and is installed with its bytes goes into the
// record. An empty mark, left by an earlier build of the wizard, names nothing: then every
// dictionary whose installed bytes are exactly this setup's entry goes in as the setup's own.
#pragma once

#include <functional>
#include <list>
#include <string>
#include <vector>

#include "install/InstallReporter.h"
#include "install/RemovalRecord.h"
#include "install/SetupIdentity.h"
#include "install/InstallManager.h"

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

    // The mark, the record, the copy or the entry could not be written: the entry's detection
    // values may not tell the truth (logged through note).
    bool failed() const { return m_bFailed; }

private:
    IInstallReporter& m_forward;
    const std::list<PackageItem>& m_packages;
    RecordNote m_note;
    std::vector<const EntryItem*> m_done;
    RemovalRecord m_ahead;         // what the mark names: this install's entries, an earlier one's
    bool m_bEmptyMark = false;     // an earlier build of the wizard left an empty mark
    bool m_bFailed = false;
};

// A run with nothing to install: settles only what an earlier install of this setup left
// pending; otherwise writes nothing. False when the record or the entry could not be written.
bool SettlePendingRecord(const std::list<PackageItem>& packages, const RecordNote& note);
// A change to what of this setup is installed outside an install (a picture put back): what the
// setup claims is marked pending first, so that a kill leaves it to be settled by the next run,
// then the record is kept again from what is installed, the change included.
void ChangeAndKeepRecord(const std::list<PackageItem>& packages, const std::function<void()>& change,
                         const RecordNote& note);
