#include "install/InstallManager.h"

#include <stdexcept>

#include "install/InstallReporter.h"
#include "package/InstallPlan.h"
#include "package/LocalScan.h"

bool CInstallManager::ScanPackages() { return ScanPackageFiles(m_packages); }

bool CInstallManager::ReadPackageEntries(PackageItem& package) { return ::ReadPackageEntries(package); }

bool CInstallManager::ScanInstalled() { return ScanInstalledFiles(m_installed); }

bool CInstallManager::BuildPlan() {
    // A package too large for this process's memory is refused like a damaged one.
    try {
        if (!ScanPackages()) return false;
        if (!ScanInstalled()) return false;
        return DecideActions(m_packages, m_installed);
    } catch (const std::exception&) {
        return false;
    }
}

bool CInstallManager::DecideActions(std::list<PackageItem>& packages, const std::list<InstalledDictItem>& installed) {
    return DecidePlanActions(packages, installed);
}

bool CInstallManager::EnsurePlanned() {
    if (m_bPlanned) return true;
    if (!BuildPlan()) return false;
    m_bPlanned = true;
    return true;
}

int CInstallManager::CountPlannedEntries() { return EnsurePlanned() ? CountPlanned(m_packages) : -1; }

uint32_t CInstallManager::GetProgressTotal() { return EnsurePlanned() ? ProgressTotalOf(m_packages) : 0; }

void CInstallManager::GetActionSummary(std::wstring& summary) const { ActionSummaryOf(m_packages, summary); }

bool CInstallManager::RunInstall(HWND hDlg, IInstallReporter& reporter) {
    if (hDlg == nullptr || !IsWindow(hDlg)) return false;
    return InstallPlan(reporter);
}
