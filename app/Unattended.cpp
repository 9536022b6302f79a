#include "app/Unattended.h"

#include "app/HostNotify.h"
#include "app/KeptCopy.h"
#include "app/MainDlg.h"
#include "app/WizardTexts.h"
#include "host/HostLock.h"
#include "host/HostPaths.h"
#include "app/LogReporter.h"
#include "install/RecordKeeper.h"
#include "install/Recovery.h"
#include "install/Removal.h"
#include "package/InstallManager.h"
#include "package/PackageReader.h"

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

    const RecordNote note = [&log](const std::wstring& line) { log.Line(line); };
    if (LogPlan(log, manager) == 0) {
        log.Line(L"nothing to install: the installed dictionaries are up to date");
        SettlePendingRecord(manager.m_packages, note);
        return WIZ_EXIT_SUCCESS;
    }

    CLogReporter reporter(log);
    CRecordKeeper keeper(reporter, manager.m_packages, note);
    manager.InstallPackages(manager.m_packages, keeper);
    // As the finish button with its box ticked, but the host starts only when asked for.
    const bool enabled = manager.EnableDictionaries(options.launch);
    log.Line(enabled ? L"service stopped and dictionaries enabled" : L"dictionaries could not be enabled");
    if (enabled && options.launch) {
        log.Line(AskHostToShowDictManager() ? L"host started and asked to show its dictionary manager"
                                            : L"host started; its tray window never came");
    }
    return reporter.failed() || !enabled ? WIZ_EXIT_INSTALL_FAILED : WIZ_EXIT_SUCCESS;
}

struct RemovalItem {
    const EntryItem* entry;
    InstalledMatch match;
    DWORD error;
};

std::vector<RemovalItem> MatchAll(CInstallManager& manager, CRunLog& log, bool& failed) {
    std::vector<RemovalItem> items;
    for (const PackageItem& package : manager.m_packages) {
        if (!package.entries) continue;
        CPackageReader reader;
        if (!reader.Open(package.filePath.c_str())) {
            failed = true;
            log.Failure(L"package cannot be read: " + package.filePath, GetLastError());
            continue;
        }
        for (const EntryItem& entry : *package.entries) {
            DWORD error = ERROR_SUCCESS;
            items.push_back({&entry, MatchInstalledEntry(entry, reader, error), error});
        }
    }
    // A dictionary's files share one section: while any of them is a different build, the
    // section and every file of that dictionary stay.
    for (RemovalItem& item : items) {
        if (item.match != InstalledMatch::Same) continue;
        for (const RemovalItem& other : items)
            if (other.match == InstalledMatch::Different && other.entry->dictId == item.entry->dictId)
                item.match = InstalledMatch::Different;
    }
    return items;
}

std::wstring ItemList(const std::vector<RemovalItem>& items, InstalledMatch match) {
    std::wstring list;
    for (const RemovalItem& item : items)
        if (item.match == match) list += FormatWizardText(WIZ_TEXT_REMOVE_ITEM_FORMAT, item.entry->displayName.c_str());
    return list;
}

int Removal(CRunOutput& out) {
    CRunLog& log = out.log();
    qb::ScopedHandle lock;
    CInstallManager manager;
    if (const int code = PrepareHost(out, lock, manager)) return code;

    bool failed = false;
    const std::vector<RemovalItem> found = MatchAll(manager, log, failed);
    const std::wstring goes = ItemList(found, InstalledMatch::Same);
    if (!out.silent()) {
        if (goes.empty()) {
            out.Box(WIZ_TEXT_NOTHING_TO_REMOVE, MB_OK | MB_ICONINFORMATION);
        } else {
            const std::wstring stays = ItemList(found, InstalledMatch::Different);
            const std::wstring question = WIZ_TEXT_REMOVE_LIST + goes + L"\r\n" +
                                          (stays.empty() ? L"" : WIZ_TEXT_LEAVE_LIST + stays + L"\r\n") +
                                          WIZ_TEXT_REMOVE_QUESTION;
            if (MessageBoxW(nullptr, question.c_str(), WIZ_TEXT_TITLE, MB_YESNO | MB_ICONQUESTION) != IDYES) {
                log.Line(L"removal declined");
                return WIZ_EXIT_USER_DECLINED;
            }
        }
    }

    for (const RemovalItem& item : found) {
        const EntryItem& entry = *item.entry;
        DWORD error = item.error;
        switch (item.match) {
        case InstalledMatch::Absent: log.Line(L"not installed: " + EntryName(entry)); break;
        case InstalledMatch::Different: log.Line(L"left, a different build: " + entry.targetPath); break;
        case InstalledMatch::Unreadable:
            failed = true;
            log.Failure(L"cannot be compared: " + entry.targetPath, error);
            break;
        case InstalledMatch::Same:
            if (RemoveInstalledEntry(entry, error)) {
                log.Line(L"removed and unregistered: " + entry.targetPath);
            } else {
                failed = true;
                log.Failure(L"removal failed: " + entry.targetPath, error);
            }
            break;
        }
    }
    SettleRecordAfterRemoval(manager.m_packages, [&log](const std::wstring& line) { log.Line(line); });
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
    // The copy an install kept removes from its record, not from packages beside it.
    if (options.uninstall && IsKeptCopy()) return log.Exit(RemoveKeptSetup(options.silent, log));
    log.Line(options.uninstall ? L"removal begins" : L"silent install begins");
    return log.Exit(options.uninstall ? Removal(out) : SilentInstall(out, options));
}
