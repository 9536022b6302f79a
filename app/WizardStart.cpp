#include "app/WizardStart.h"

#include "app/CommandLine.h"
#include "app/WizardTexts.h"
#include "base/NameFolding.h"
#include "host/HostLock.h"
#include "host/HostPaths.h"
#include "install/Recovery.h"
#include "package/VersionLibrary.h"

namespace {

bool IsPlanTarget(const CInstallManager& manager, const std::wstring& target) {
    for (const PackageItem& package : manager.Packages()) {
        if (!package.entries) continue;
        for (const EntryItem& entry : *package.entries)
            if (SameFileName(entry.targetPath, target)) return true;
    }
    return false;
}

bool IsRecordTarget(const std::vector<CRemovalRecord>& records, const std::wstring& dataDir,
                    const std::wstring& target) {
    for (const CRemovalRecord& record : records)
        if (SameFileName(dataDir + L"\\" + record.m_strFileName, target)) return true;
    return false;
}

}  // namespace

WizardStartResult CWizardStart::Run(CInstallManager& manager, bool requireVersionLibrary,
                                    const std::function<void()>& onLocked) {
    std::wstring hostExe;
    if (!CheckHostEnvironment() || !GetHostExecutablePath(hostExe)) {
        const std::wstring why = DescribeMissingHost();
        m_log.Line(L"host not found" + (why.empty() ? std::wstring() : L": " + why));
        return WizardStartResult::NoHost;
    }
    m_log.Line(L"host found: " + hostExe);
    for (const std::wstring& missing : DescribeMissingHostParts()) m_log.Line(missing);
    if (!LoadVersionLibrary()) {
        if (requireVersionLibrary) {
            m_log.Line(L"version library " VERSION_LIBRARY_NAME L" cannot be loaded beside the wizard: nothing changed");
            return WizardStartResult::NoVersionLibrary;
        }
        m_log.Line(L"version library " VERSION_LIBRARY_NAME
                   L" cannot be loaded: every installed dictionary of a package is upgraded");
    }
    if (const WizardStartResult locked = Lock(); locked != WizardStartResult::Ready) return locked;
    if (onLocked) onLocked();
    const CRecoveryResult recovery = RecoverInterruptedInstall();
    const bool planned = manager.CountPlannedEntries() >= 0;
    LogRecovery(recovery, [&manager](const std::wstring& target) { return IsPlanTarget(manager, target); });
    if (!planned) {
        m_log.Line(L"plan cannot be built (a package beside the wizard cannot be read)");
        return WizardStartResult::PlanFailed;
    }
    return WizardStartResult::Ready;
}

WizardStartResult CWizardStart::RunForRecords(const std::function<std::vector<CRemovalRecord>()>& readRecords) {
    std::wstring dataDir;
    if (!GetDictDataDir(dataDir)) {
        m_log.Line(L"host not found");
        return WizardStartResult::NoHost;
    }
    if (const WizardStartResult locked = Lock(); locked != WizardStartResult::Ready) return locked;
    const std::vector<CRemovalRecord> records = readRecords();
    LogRecovery(RecoverInterruptedInstall(),
                [&](const std::wstring& target) { return IsRecordTarget(records, dataDir, target); });
    return WizardStartResult::Ready;
}

WizardStartResult CWizardStart::Lock() {
    switch (AcquireHostInstallLock(m_lock, m_dwError)) {
    case HostLockResult::Acquired: return WizardStartResult::Ready;
    case HostLockResult::Busy:
        m_log.Line(L"another wizard is working on this host");
        return WizardStartResult::Busy;
    case HostLockResult::NoHost:
        m_log.Line(L"host's dictionary folder cannot be read");
        return WizardStartResult::NoHost;
    case HostLockResult::Failed:
        m_log.Failure(L"host lock cannot be made", m_dwError);
        return WizardStartResult::LockFailed;
    }
    return WizardStartResult::LockFailed;
}

void CWizardStart::LogRecovery(const CRecoveryResult& result, const std::function<bool(const std::wstring&)>& isOurs) {
    if (!result.m_bHostKnown) return;
    m_log.Line(L"recovery settled " + std::to_wstring(result.m_settled.size()) +
               L" dictionaries left by an interrupted run");
    for (const std::wstring& target : result.m_settled) m_log.Line(L"recovery settled: " + target);
    for (const std::wstring& target : result.m_left)
        m_log.Line(L"recovery left as it is (another installer's backup, or a registration to come): " + target);
    for (const std::wstring& target : result.m_unsettled) {
        if (isOurs(target)) {
            ++m_nUnsettledOfPlan;
            m_log.Line(L"failed: recovery could not settle " + target);
        } else {
            m_log.Line(L"recovery could not settle (not of this setup folder): " + target);
        }
    }
}

int ExitOfStart(WizardStartResult result, bool silent) {
    auto box = [silent](const wchar_t* text, UINT type) {
        if (!silent) MessageBoxW(nullptr, text, WIZ_TEXT_TITLE, type);
    };
    switch (result) {
    case WizardStartResult::Ready: return WIZ_EXIT_SUCCESS;
    case WizardStartResult::NoHost:
        box(WIZ_TEXT_HOST_NOT_FOUND, MB_OK | MB_ICONINFORMATION);
        return WIZ_EXIT_INSTALL_FAILED;
    case WizardStartResult::NoVersionLibrary: return WIZ_EXIT_INSTALL_FAILED;
    case WizardStartResult::Busy:
        box(WIZ_TEXT_ANOTHER_INSTALL, MB_OK | MB_ICONINFORMATION);
        return WIZ_EXIT_ANOTHER_INSTALL;
    case WizardStartResult::LockFailed:
    case WizardStartResult::PlanFailed:
        box(WIZ_TEXT_PLAN_FAILED, MB_OK);
        return WIZ_EXIT_INSTALL_FAILED;
    }
    return WIZ_EXIT_INSTALL_FAILED;
}
