#include "app/Unattended.h"

#include "app/HostNotify.h"
#include "app/KeptCopy.h"
#include "app/MainDlg.h"
#include "app/WizardTexts.h"
#include "app/LogReporter.h"
#include "app/RemovalQuestion.h"
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
        SettlePendingRecord(manager.Packages(), note);
        PutBackMissingPictures(manager, reporter, note);
        reporter.LogResults(manager);
        return recovered ? WIZ_EXIT_SUCCESS : WIZ_EXIT_INSTALL_FAILED;
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
    const bool enabled = manager.EnableDictionaries(options.launch);
    log.Line(enabled ? L"service stopped and dictionaries enabled" : L"dictionaries could not be enabled");
    if (enabled && options.launch) {
        log.Line(AskHostToShowDictManager() ? L"host started and asked to show its dictionary manager"
                                            : L"host started; its tray window never came");
    }
    return reporter.failed() || !enabled || !recovered ? WIZ_EXIT_INSTALL_FAILED : WIZ_EXIT_SUCCESS;
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
    const RemovalAnswer answer = out.silent() ? RemovalAnswer::NothingListed : AskRemoval(records, log);
    if (answer == RemovalAnswer::No) return WIZ_EXIT_USER_DECLINED;
    if (answer == RemovalAnswer::NothingListed) out.Box(WIZ_TEXT_NOTHING_TO_REMOVE, MB_OK | MB_ICONINFORMATION);
    if (!RemoveInstalledDictionaries(records, reporter)) failed = true;
    reporter.LogResults();
    SettleRecordAfterRemoval(manager.Packages(), [&log](const std::wstring& line) { log.Line(line); });
    if (answer == RemovalAnswer::Yes) out.Box(failed ? WIZ_TEXT_REMOVE_FAILED : WIZ_TEXT_REMOVE_DONE,
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
