// How every run that may change the host begins, by hand or not: the host, then its lock, then
// recovery of what a wizard killed earlier left, then the plan. Written once; the dialog's
// start and the runs without a dialog read its outcome and decide what to show. The copy an
// install kept beside its removal record starts the same way, with the record's files in place
// of a plan (it has no packages beside it).
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "app/RunLog.h"
#include "base/ScopedWin.h"
#include "install/Removal.h"
#include "install/InstallManager.h"

enum class WizardStartResult {
    Ready,             // the lock is held and the plan is built
    NoHost,            // no host, or its data folder cannot be read: nothing was touched
    NoVersionLibrary,  // asked to require it, and it cannot be loaded: nothing was touched
    Busy,              // another wizard holds the host's lock
    LockFailed,        // the lock could not be made (error)
    PlanFailed,        // the lock is held, but a package beside the wizard cannot be read
};

class CWizardStart {
public:
    explicit CWizardStart(CRunLog& log) : m_log(log) {}

    // requireVersionLibrary: without the version library the plan cannot tell an older
    // package from a newer dictionary; a run that cannot ask anyone stops before any change.
    // onLocked runs as soon as the lock is held, before recovery.
    WizardStartResult Run(CInstallManager& manager, bool requireVersionLibrary,
                          const std::function<void()>& onLocked = nullptr);

    // The kept copy's start, for a host whose data folder is there (CurrentHostPresence). No
    // version library is needed to remove, and no plan is built: readRecords reads the record
    // once the lock is held, so that no install of the same setup writes it meanwhile.
    WizardStartResult RunForRecords(const std::function<std::vector<CRemovalRecord>()>& readRecords);

    bool locked() const { return m_lock.valid(); }
    DWORD error() const { return m_dwError; }
    // Dictionaries of this setup folder's plan that recovery could not settle: each fails.
    int unsettledOfPlan() const { return m_nUnsettledOfPlan; }

private:
    WizardStartResult Lock();
    // isOurs: a target of this run's plan or record, whose unsettled state fails the run.
    void LogRecovery(const struct CRecoveryResult& result, const std::function<bool(const std::wstring&)>& isOurs);

    CRunLog& m_log;
    qb::ScopedHandle m_lock;
    DWORD m_dwError = ERROR_SUCCESS;
    int m_nUnsettledOfPlan = 0;
};

// What a start that is not Ready tells whoever is at the screen (a silent run only logs), and
// the run's exit code.
int ExitOfStart(WizardStartResult result, bool silent);
