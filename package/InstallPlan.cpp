#include "package/InstallPlan.h"

#include "host/HostPaths.h"
#include "package/InstallManager.h"
#include "package/PackageFormat.h"
#include "package/VersionLibrary.h"

namespace {

bool IsPlanned(const EntryItem& entry) { return entry.action == ACTION_INSTALL || entry.action == ACTION_UPGRADE; }

const InstalledDictItem* FindInstalled(const std::list<InstalledDictItem>& installed, const std::wstring& fileName) {
    for (const auto& item : installed)
        if (item.fileName == fileName) return &item;
    return nullptr;
}

// Only a strictly later package date replaces an installed file; without a usable library
// or a readable date the package's file wins.
EntryAction DecideAgainst(const EntryItem& entry, const InstalledDictItem& installed) {
    if (!LoadVersionLibrary()) return ACTION_UPGRADE;
    DictDate entryDate{};
    if (!VersionLibrary().string_to_date(entry.dateText.c_str(), &entryDate)) return ACTION_UPGRADE;
    return VersionLibrary().compare_date(&entryDate, &installed.fileDate) > 0 ? ACTION_UPGRADE : ACTION_SKIP;
}

}  // namespace

bool CInstallManager::BuildPlan() {
    if (!ScanPackages()) return false;
    if (!ScanInstalled()) return false;
    return DecideActions(m_packages, m_installed);
}

bool CInstallManager::DecideActions(std::list<PackageItem>& packages, const std::list<InstalledDictItem>& installed) {
    std::wstring dataDir;
    bool haveDataDir = false;
    for (auto& package : packages) {
        if (!package.entries) continue;
        for (auto& entry : *package.entries) {
            const std::wstring fileName = entry.dictId + entry.fileExt;
            if (const InstalledDictItem* match = FindInstalled(installed, fileName)) {
                entry.action = DecideAgainst(entry, *match);
                entry.targetPath = match->filePath;
                continue;
            }
            // A new file needs the data directory; without it there is no place to write
            // to, and a target relative to the drive root must never be formed.
            if (!haveDataDir && !(haveDataDir = GetDictDataDir(dataDir))) return false;
            entry.action = ACTION_INSTALL;
            entry.targetPath = dataDir + L"\\" + fileName;
        }
    }
    return true;
}

bool CInstallManager::EnsurePlanned() {
    if (m_bPlanned) return true;
    if (!BuildPlan()) return false;
    m_bPlanned = true;
    return true;
}

int CInstallManager::CountPlannedEntries() {
    if (!EnsurePlanned()) return -1;
    int count = 0;
    for (const auto& package : m_packages) {
        if (!package.entries) continue;
        for (const auto& entry : *package.entries)
            if (IsPlanned(entry)) ++count;
    }
    return count;
}

uint32_t CInstallManager::GetProgressTotal() {
    if (!EnsurePlanned()) return 0;
    uint32_t total = 0;
    for (const auto& package : m_packages) {
        if (!package.entries) continue;
        for (const auto& entry : *package.entries)
            if (IsPlanned(entry)) total += entry.size / CHUNK_SIZE + (entry.size % CHUNK_SIZE != 0 ? 1 : 0);
    }
    return total;
}

void CInstallManager::GetActionSummary(std::wstring& summary) const {
    summary.clear();
    for (const auto& package : m_packages) {
        if (!package.entries) continue;
        for (const auto& entry : *package.entries) {
            if (entry.action == ACTION_INSTALL)
                summary += PLAN_SUMMARY_INSTALL + entry.displayName + PLAN_SUMMARY_CLOSE;
            else if (entry.action == ACTION_UPGRADE)
                summary += PLAN_SUMMARY_UPGRADE + entry.displayName + PLAN_SUMMARY_CLOSE;
        }
    }
}
