#include "app/Unattended.h"

#include "app/HostNotify.h"
#include "app/MainDlg.h"
#include "app/WizardTexts.h"
#include "host/HostLock.h"
#include "host/HostPaths.h"
#include "app/LogReporter.h"
#include "install/InstallReporter.h"
#include "install/Recovery.h"
#include "install/Removal.h"
#include "package/InstallManager.h"

namespace {

// Tells the user when anyone is there to see it; a silent run only logs.
class CRunOutput {
public:
    CRunOutput(const WizardOptions& options, CRunLog& log) : m_bSilent(options.silent), m_log(log) {}
    CRunLog& log() { return m_log; }
    bool silent() const { return m_bSilent; }
    void Box(const wchar_t* text, UINT type) const {
        if (!m_bSilent) MessageBoxW(nullptr, text, WIZ_TEXT_TITLE, type);
    }

private:
    bool m_bSilent;
    CRunLog& m_log;
};

// What every run that changes the host does first, in the order the dialog's start-up keeps:
// the host, then its lock, then recovery, then the plan. 0 when all went well, else the exit code.
int PrepareHost(CRunOutput& out, qb::ScopedHandle& lock, CInstallManager& manager) {
    CRunLog& log = out.log();
    std::wstring hostExe;
    if (!CheckHostEnvironment() || !GetHostExecutablePath(hostExe)) {
        log.Line(L"host not found");
        out.Box(WIZ_TEXT_HOST_NOT_FOUND, MB_OK | MB_ICONINFORMATION);
        return WIZ_EXIT_INSTALL_FAILED;
    }
    log.Line(L"host found: " + hostExe);
    DWORD error = ERROR_SUCCESS;
    switch (AcquireHostInstallLock(lock, error)) {
    case HostLockResult::Acquired: break;
    case HostLockResult::Busy:
        log.Line(L"another wizard is working on this host");
        out.Box(WIZ_TEXT_ANOTHER_INSTALL, MB_OK | MB_ICONINFORMATION);
        return WIZ_EXIT_ANOTHER_INSTALL;
    case HostLockResult::NoHost:
        log.Line(L"host's dictionary folder cannot be read");
        out.Box(WIZ_TEXT_HOST_NOT_FOUND, MB_OK | MB_ICONINFORMATION);
        return WIZ_EXIT_INSTALL_FAILED;
    case HostLockResult::Failed:
        log.Failure(L"host lock cannot be made", error);
        out.Box(WIZ_TEXT_PLAN_FAILED, MB_OK);
        return WIZ_EXIT_INSTALL_FAILED;
    }
    LogRecovery(log, RecoverInterruptedInstall());
    if (manager.CountPlannedEntries() < 0) {
        log.Line(L"plan cannot be built (a package beside the wizard cannot be read)");
        out.Box(WIZ_TEXT_PLAN_FAILED, MB_OK);
        return WIZ_EXIT_INSTALL_FAILED;
    }
    return WIZ_EXIT_SUCCESS;
}

int SilentInstall(CRunOutput& out, const WizardOptions& options) {
    CRunLog& log = out.log();
    qb::ScopedHandle lock;
    CInstallManager manager;
    if (const int code = PrepareHost(out, lock, manager)) return code;

    if (LogPlan(log, manager) == 0) {
        log.Line(L"nothing to install: the installed dictionaries are up to date");
        return WIZ_EXIT_SUCCESS;
    }

    CLogReporter reporter(log);
    manager.InstallPackages(manager.m_packages, reporter);
    // As the finish button with its box ticked, but the host starts only when asked for.
    const bool enabled = manager.EnableDictionaries(options.launch);
    log.Line(enabled ? L"service stopped and dictionaries enabled" : L"dictionaries could not be enabled");
    if (enabled && options.launch) {
        log.Line(AskHostToShowDictManager() ? L"host started and asked to show its dictionary manager"
                                            : L"host started; its tray window never came");
    }
    return reporter.failed() || !enabled ? WIZ_EXIT_INSTALL_FAILED : WIZ_EXIT_SUCCESS;
}

// The removal engine's reports as log lines.
class CRemovalLog final : public IRemovalReporter {
public:
    explicit CRemovalLog(CRunLog& log) : m_log(log) {}
    void OnRemovalItem(const CRemovalItem& item) override {
        const DWORD error = item.m_nError;
        switch (item.m_nOutcome) {
        case RemovalOutcome::Removed: m_log.Line(L"removed and unregistered: " + item.m_strPath); break;
        case RemovalOutcome::NotInstalled: m_log.Line(L"not installed: " + RecordName(*item.m_pRecord)); break;
        case RemovalOutcome::LeftDifferent: m_log.Line(L"left, a different build: " + item.m_strPath); break;
        case RemovalOutcome::LeftWithDictionary:
            m_log.Line(L"left with its dictionary, another file of which stays: " + item.m_strPath);
            break;
        case RemovalOutcome::Held: m_log.Failure(L"left, held by another program: " + item.m_strPath, error); break;
        case RemovalOutcome::Unreadable: m_log.Failure(L"cannot be compared: " + item.m_strPath, error); break;
        case RemovalOutcome::Unsettled:
            m_log.Line(L"left, not complete after recovery: " + item.m_strPath);
            break;
        case RemovalOutcome::ForeignBackup:
            m_log.Failure(L"left, beside a backup that is not ours: " + item.m_strPath, error);
            break;
        case RemovalOutcome::Failed: m_log.Failure(L"removal failed: " + item.m_strPath, error); break;
        }
    }
    void OnRemovalPackageBad(const std::wstring& packagePath, DWORD error) override {
        m_log.Failure(L"package cannot be read: " + packagePath, error);
    }

    static std::wstring RecordName(const CRemovalRecord& record) {
        return record.m_strFileName + L" (" + record.m_strDisplayName + L")";
    }

private:
    CRunLog& m_log;
};

std::wstring ItemList(const std::vector<CRemovalItem>& items, bool goes) {
    std::wstring list;
    for (const CRemovalItem& item : items) {
        const bool listed = goes ? item.m_nOutcome == RemovalOutcome::Removed
                                 : item.m_nOutcome != RemovalOutcome::Removed &&
                                       item.m_nOutcome != RemovalOutcome::NotInstalled;
        if (listed) list += FormatWizardText(WIZ_TEXT_REMOVE_ITEM_FORMAT, item.m_pRecord->m_strDisplayName.c_str());
    }
    return list;
}

int Removal(CRunOutput& out) {
    CRunLog& log = out.log();
    qb::ScopedHandle lock;
    CInstallManager manager;
    if (const int code = PrepareHost(out, lock, manager)) return code;

    CRemovalLog reporter(log);
    std::vector<CRemovalRecord> records;
    bool failed = !RemovalRecordsOf(manager, records, reporter);
    // By hand the question lists what would go now; every file is matched again as it goes.
    std::wstring goes;
    if (!out.silent()) {
        const std::vector<CRemovalItem> preview = PreviewRemoval(records);
        goes = ItemList(preview, true);
        if (goes.empty()) {
            out.Box(WIZ_TEXT_NOTHING_TO_REMOVE, MB_OK | MB_ICONINFORMATION);
        } else {
            const std::wstring stays = ItemList(preview, false);
            const std::wstring question = WIZ_TEXT_REMOVE_LIST + goes + L"\r\n" +
                                          (stays.empty() ? L"" : WIZ_TEXT_LEAVE_LIST + stays + L"\r\n") +
                                          WIZ_TEXT_REMOVE_QUESTION;
            if (MessageBoxW(nullptr, question.c_str(), WIZ_TEXT_TITLE, MB_YESNO | MB_ICONQUESTION) != IDYES) {
                log.Line(L"removal declined");
                return WIZ_EXIT_USER_DECLINED;
            }
        }
    }
    if (!RemoveInstalledDictionaries(records, reporter)) failed = true;
    if (!goes.empty()) out.Box(failed ? WIZ_TEXT_REMOVE_FAILED : WIZ_TEXT_REMOVE_DONE,
                               MB_OK | (failed ? MB_ICONERROR : MB_ICONINFORMATION));
    return failed ? WIZ_EXIT_INSTALL_FAILED : WIZ_EXIT_SUCCESS;
}

}  // namespace

bool RunsWithoutDialog(const WizardOptions& options, bool switchesKnown) {
    return !switchesKnown || options.help || options.silent || options.uninstall;
}

int RunWithoutDialog(const WizardOptions& options, bool switchesKnown, CRunLog& log) {
    CRunOutput out(options, log);
    if (!switchesKnown || options.help) {
        if (!switchesKnown) log.Line(L"unknown switch: " + options.badSwitch);
        log.Line(WIZ_TEXT_USAGE);
        out.Box(WIZ_TEXT_USAGE, MB_OK | (switchesKnown ? MB_ICONINFORMATION : MB_ICONWARNING));
        return log.Exit(switchesKnown ? WIZ_EXIT_SUCCESS : WIZ_EXIT_BAD_SWITCH);
    }
    if (options.silent) {
        // Nothing may wait for a click: no box for a missing disk or a crash either.
        SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    }
    log.Line(options.uninstall ? L"removal begins" : L"silent install begins");
    return log.Exit(options.uninstall ? Removal(out) : SilentInstall(out, options));
}
