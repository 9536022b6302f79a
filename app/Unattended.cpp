#include "app/Unattended.h"

#include "app/HostNotify.h"
#include "app/KeptCopy.h"
#include "app/MainDlg.h"
#include "app/WizardTexts.h"
#include "app/LogReporter.h"
#include "app/WizardStart.h"
#include "install/InstallReporter.h"
#include "install/RecordKeeper.h"
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

// The start every run that changes the host makes (WizardStart.h), and what it tells the
// user. 0 when all went well, else the exit code.
int PrepareHost(CRunOutput& out, CWizardStart& start, CInstallManager& manager, bool requireVersionLibrary) {
    switch (start.Run(manager, requireVersionLibrary)) {
    case WizardStartResult::Ready: return WIZ_EXIT_SUCCESS;
    case WizardStartResult::NoHost:
        out.Box(WIZ_TEXT_HOST_NOT_FOUND, MB_OK | MB_ICONINFORMATION);
        return WIZ_EXIT_INSTALL_FAILED;
    case WizardStartResult::NoVersionLibrary: return WIZ_EXIT_INSTALL_FAILED;
    case WizardStartResult::Busy:
        out.Box(WIZ_TEXT_ANOTHER_INSTALL, MB_OK | MB_ICONINFORMATION);
        return WIZ_EXIT_ANOTHER_INSTALL;
    case WizardStartResult::LockFailed:
    case WizardStartResult::PlanFailed:
        out.Box(WIZ_TEXT_PLAN_FAILED, MB_OK);
        return WIZ_EXIT_INSTALL_FAILED;
    }
    return WIZ_EXIT_INSTALL_FAILED;
}

int SilentInstall(CRunOutput& out, const WizardOptions& options) {
    CRunLog& log = out.log();
    CWizardStart start(log);
    CInstallManager manager;
    // Without the version library an older package would replace a newer dictionary.
    if (const int code = PrepareHost(out, start, manager, true)) return code;
    const bool recovered = start.unsettledOfPlan() == 0;

    const RecordNote note = [&log](const std::wstring& line) { log.Line(line); };
    CLogReporter reporter(log);
    if (LogPlan(log, manager) == 0) {
        log.Line(L"nothing to install: the installed dictionaries are up to date");
        SettlePendingRecord(manager.Packages(), note);
        reporter.LogResults(manager);
        return recovered ? WIZ_EXIT_SUCCESS : WIZ_EXIT_INSTALL_FAILED;
    }

    CRecordKeeper keeper(reporter, manager.Packages(), note);
    manager.InstallPlan(keeper);
    reporter.LogResults(manager);
    // As the finish button with its box ticked, but the host starts only when asked for.
    const bool enabled = manager.EnableDictionaries(options.launch);
    log.Line(enabled ? L"service stopped and dictionaries enabled" : L"dictionaries could not be enabled");
    if (enabled && options.launch) {
        log.Line(AskHostToShowDictManager() ? L"host started and asked to show its dictionary manager"
                                            : L"host started; its tray window never came");
    }
    return reporter.failed() || !enabled || !recovered ? WIZ_EXIT_INSTALL_FAILED : WIZ_EXIT_SUCCESS;
}

// The removal engine's reports as log lines.
class CRemovalLog final : public IRemovalReporter {
public:
    explicit CRemovalLog(CRunLog& log) : m_log(log) {}
    void OnRemovalItem(const CRemovalItem& item) override {
        m_results.push_back({item.m_pRecord->m_strDictId, item.m_pRecord->m_strFileName, OutcomeName(item.m_nOutcome),
                             item.m_nError});
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

    // The key=value lines at the end, one per file, as the install writes its own.
    void LogResults() const {
        for (const Result& r : m_results) LogEntryResult(m_log, r.dictId, r.fileName, L"remove", r.outcome, r.error);
    }

private:
    struct Result {
        std::wstring dictId, fileName;
        const wchar_t* outcome;
        DWORD error;
    };
    static const wchar_t* OutcomeName(RemovalOutcome outcome) {
        switch (outcome) {
        case RemovalOutcome::Removed: return L"removed";
        case RemovalOutcome::NotInstalled: return L"not-installed";
        case RemovalOutcome::LeftDifferent:
        case RemovalOutcome::LeftWithDictionary: return L"left";
        case RemovalOutcome::Held: return L"held";
        case RemovalOutcome::Unreadable: return L"unreadable";
        case RemovalOutcome::Unsettled: return L"unsettled";
        case RemovalOutcome::ForeignBackup: return L"left-foreign-backup";
        case RemovalOutcome::Failed: break;
        }
        return L"failed";
    }
    CRunLog& m_log;
    std::vector<Result> m_results;
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
    CWizardStart start(log);
    CInstallManager manager;
    if (const int code = PrepareHost(out, start, manager, false)) return code;

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
    reporter.LogResults();
    SettleRecordAfterRemoval(manager.Packages(), [&log](const std::wstring& line) { log.Line(line); });
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
    // The copy an install kept removes from its record, not from packages beside it.
    if (options.uninstall && IsKeptCopy()) return log.Exit(RemoveKeptSetup(options.silent, log));
    log.Line(options.uninstall ? L"removal begins" : L"silent install begins");
    return log.Exit(options.uninstall ? Removal(out) : SilentInstall(out, options));
}
