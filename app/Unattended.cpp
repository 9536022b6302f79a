#include "app/Unattended.h"

#include "app/HostNotify.h"
#include "app/KeptCopy.h"
#include "app/MainDlg.h"
#include "app/WizardTexts.h"
#include "app/LogReporter.h"
#include "app/RemovalQuestion.h"
#include "app/WizardStart.h"
#include "host/ProcessControl.h"
#include "install/InstallReporter.h"
#include "install/RecordKeeper.h"
#include "install/RecordRemoval.h"
#include "install/Removal.h"
#include "install/InstallManager.h"

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

// Pictures missing beside dictionaries that are up to date, put back and named in the
// removal record, so that a removal takes them with their dictionaries.
void PutBackMissingPictures(CInstallManager& manager, IInstallReporter& reporter, const RecordNote& note) {
    const std::vector<const EntryItem*> missing = manager.MissingPictures();
    if (missing.empty()) return;
    ChangeAndKeepRecord(manager.Packages(), [&] { manager.PutBackPictures(missing, reporter); }, note);
}

// The start every run that changes the host makes (WizardStart.h), and what it tells the
// user. 0 when all went well, else the exit code.
int PrepareHost(CRunOutput& out, CWizardStart& start, CInstallManager& manager, bool requireVersionLibrary) {
    return ExitOfStart(start.Run(manager, requireVersionLibrary), out.silent());
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
        const bool settled = SettlePendingRecord(manager.Packages(), note);
        PutBackMissingPictures(manager, reporter, note);
        reporter.LogResults(manager);
        return recovered && settled ? WIZ_EXIT_SUCCESS : WIZ_EXIT_INSTALL_FAILED;
    }

    CRecordKeeper keeper(reporter, manager.Packages(), note);
    manager.InstallPlan(keeper);
    PutBackMissingPictures(manager, reporter, note);
    reporter.LogResults(manager);
    // Every entry failed: the host has nothing new to see, and its service keeps running.
    if (reporter.done() == 0) {
        log.Line(L"no dictionary was installed and registered: the host's service was not stopped and nothing was enabled");
        return WIZ_EXIT_INSTALL_FAILED;
    }
    // As the finish button with its box ticked, but the host starts only when asked for.
    const bool enabled = manager.EnableDictionaries(false);
    log.Line(enabled ? L"service stopped and dictionaries enabled" : L"dictionaries could not be enabled");
    bool launchFailed = false;
    if (enabled && options.launch) {
        // Where no signed-in user could have the host, /LAUNCH only logs why.
        const HostStart host = StartHostExecutable();
        if (host == HostStart::Started) {
            log.Line(AskHostToShowDictManager() ? L"host started and asked to show its dictionary manager"
                                                : L"host started; its tray window never came");
        } else if (host == HostStart::NoSessionUser) {
            log.Line(L"/LAUNCH: the host was not started, there is no signed-in user to start it as");
        } else {
            launchFailed = true;
            log.Line(L"the host could not be started");
        }
    }
    return reporter.failed() || keeper.failed() || !enabled || launchFailed || !recovered ? WIZ_EXIT_INSTALL_FAILED
                                                                                          : WIZ_EXIT_SUCCESS;
}

// With the host gone nothing of this setup can be left on the PC: its record and entry, if
// any, go.
int RemovalForGoneHost(CRunOutput& out, const RemovalNote& note) {
    CRunLog& log = out.log();
    log.Line(L"the host's registry values are gone: nothing of this setup can be left on this PC");
    CInstallManager manager;
    manager.ScanPackages();
    std::wstring folder;
    RemovalRecord claims;
    RemovalSummary summary;
    if (RecordFolderOf(IdentityOfSetup(manager.Packages()).id, folder) && ReadSetupClaims(folder, claims))
        summary = SettleForGoneHost(folder, claims, note);
    return FinishRemoval(VerdictOf(summary), out.silent(), log);
}

// The setup folder's removal: by the setup's record where there is one (what this setup did
// to each file), else by its packages as the setup's own; either way through the ownership
// rule, and nothing another setup's record names goes.
int Removal(CRunOutput& out) {
    CRunLog& log = out.log();
    const RemovalNote note = [&log](const std::wstring& line) { log.Line(line); };
    const HostPresence host = CurrentHostPresence();
    if (host == HostPresence::Gone) return RemovalForGoneHost(out, note);
    if (host == HostPresence::Unreachable) {
        log.Line(L"failed: the host's dictionary folder cannot be reached: the record and the entry stay");
        return FinishRemoval(RemovalVerdict::Failed, out.silent(), log);
    }
    CWizardStart start(log);
    CInstallManager manager;
    if (const int code = PrepareHost(out, start, manager, false)) return code;

    CRemovalLog reporter(log);
    std::wstring folder;
    RemovalRecord claims;
    const bool recorded =
        RecordFolderOf(IdentityOfSetup(manager.Packages()).id, folder) && ReadSetupClaims(folder, claims);
    std::vector<CRemovalRecord> records;
    bool unreadable = false;
    if (recorded) {
        log.Line(L"removal from the record of setup " + claims.setupId + L" in " + folder);
        records = RemovalRecordsOf(claims);
    } else {
        unreadable = !RemovalRecordsOf(manager, records, reporter);
    }
    const std::vector<CRemovalRecord> otherClaims = ClaimsOfOtherSetups(folder);
    // By hand the question lists what would go now; every file is matched again as it goes.
    const RemovalAnswer answer = out.silent() ? RemovalAnswer::NothingListed : AskRemoval(records, otherClaims, log);
    if (answer == RemovalAnswer::No) return WIZ_EXIT_USER_DECLINED;
    RemovalSummary summary = RemoveAndSettle(folder, recorded ? &claims : nullptr, records, otherClaims, reporter, note);
    summary.confirmed = answer == RemovalAnswer::Yes;
    reporter.LogResults();
    summary.unreadable = summary.unreadable || unreadable;
    if (!recorded) RemoveFolderNamingNothing(IdentityOfSetup(manager.Packages()).id, folder, note);
    return FinishRemoval(VerdictOf(summary), out.silent(), log);
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
    int code = WIZ_EXIT_SUCCESS;
    // The copy an install kept removes from its record, not from packages beside it.
    if (options.uninstall && IsKeptCopy()) {
        code = RemoveKeptSetup(options.silent, log);
    } else {
        log.Line(options.uninstall ? L"removal begins" : L"silent install begins");
        code = options.uninstall ? Removal(out) : SilentInstall(out, options);
    }
    // A service these runs stopped is the user's again: no host start brings it back here.
    RestartStoppedDictService();
    return log.Exit(code);
}
