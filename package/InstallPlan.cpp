#include "package/InstallPlan.h"

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <unordered_map>
#include <vector>

#include "base/NameFolding.h"
#include "base/ScopedWin.h"
#include "host/HostPaths.h"
#include "package/DictFiles.h"
#include "package/PlanRecords.h"
#include "package/PackageFormat.h"
#include "package/VersionLibrary.h"

namespace {

bool IsPlanned(const EntryItem& entry) { return entry.action == ACTION_INSTALL || entry.action == ACTION_UPGRADE; }

// The installed files by their lowercased names, the first in list order for a name.
using InstalledIndex = std::unordered_map<std::wstring, const InstalledDictItem*>;

InstalledIndex IndexInstalled(const std::list<InstalledDictItem>& installed) {
    InstalledIndex index;
    index.reserve(installed.size());
    for (const auto& item : installed) index.emplace(item.fileName, &item);
    return index;
}

const InstalledDictItem* FindInstalled(const InstalledIndex& installed, const std::wstring& fileName) {
    const auto found = installed.find(fileName);
    return found != installed.end() ? found->second : nullptr;
}

// Only a strictly later package date replaces an installed file; without a usable library
// or a readable date the package's file wins. A file whose install was cut off before its
// registration (sameDateUpgrades) is installed again from an entry of its own date, which
// registers it.
EntryAction DecideAgainstDate(const EntryItem& entry, const DictDate& installedDate, bool sameDateUpgrades) {
    if (!LoadVersionLibrary()) return ACTION_UPGRADE;
    DictDate entryDate{};
    if (!VersionLibrary().string_to_date(entry.dateText.c_str(), &entryDate)) return ACTION_UPGRADE;
    const int order = VersionLibrary().compare_date(&entryDate, &installedDate);
    return order > 0 || (sameDateUpgrades && order == 0) ? ACTION_UPGRADE : ACTION_SKIP;
}

EntryAction DecideAgainst(const EntryItem& entry, const InstalledDictItem& installed) {
    return DecideAgainstDate(entry, installed.fileDate, installed.unregistered);
}

// The file system folds the case of every letter and answers to a file's short name too, so
// a name the installed list does not hold may still reach a file of the data folder. One
// listing of the folder answers for every entry (a search per entry would read the whole folder
// each time under Wine): what answers to a name, by its long name or its short one.
class CFolderAnswers {
public:
    explicit CFolderAnswers(const std::wstring& dir) {
        WIN32_FIND_DATAW data;
        qb::ScopedFindHandle find(FindFirstFileW((dir + L"\\*").c_str(), &data));
        if (!find) return;
        do {
            const Answer answer{data.cFileName, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0};
            m_byLongName.emplace(FoldedName(data.cFileName), answer);
            if (data.cAlternateFileName[0] != L'\0') m_byShortName.emplace(FoldedName(data.cAlternateFileName), answer);
        } while (FindNextFileW(find.get(), &data));
    }

    struct Answer {
        std::wstring name;
        bool directory;
    };
    const Answer* WhatAnswersTo(const std::wstring& name) const {
        const std::wstring folded = FoldedName(name);
        auto found = m_byLongName.find(folded);
        if (found != m_byLongName.end()) return &found->second;
        found = m_byShortName.find(folded);
        return found != m_byShortName.end() ? &found->second : nullptr;
    }

private:
    std::unordered_map<std::wstring, Answer> m_byLongName, m_byShortName;
};

// An entry whose name reaches a file the installed list did not match by its A-Z folding.
// The same name in another case is that dictionary: upgraded or skipped by its date, at its
// real path. Any other answer (a short name, a folder) leaves the entry a new install whose
// final rename, which never replaces, then fails the entry with the file untouched.
void DecideAgainstFileSystem(EntryItem& entry, const std::wstring& dataDir, const CFolderAnswers& folder) {
    const std::wstring planned = entry.dictId + entry.fileExt;
    const CFolderAnswers::Answer* found = folder.WhatAnswersTo(planned);
    if (found == nullptr || found->directory || !SameFileName(found->name, planned)) return;
    entry.targetPath = dataDir + L"\\" + found->name;
    const CTargetFiles files = ReadTargetFiles(entry.targetPath);
    DictDate date{};
    if (LoadVersionLibrary()) VersionLibrary().get_dict_datetime(DatingPath(files).c_str(), &date);
    entry.action = DecideAgainstDate(entry, date, RuleFor(ClassifyTarget(files)).m_bSameDateInstalls);
}

// Orders two entries for one file: above 0 when first is newer. A date the library cannot
// read counts as older than any it can; two such dates are equal.
int CompareEntryDates(const EntryItem& first, const EntryItem& second) {
    if (!LoadVersionLibrary()) return 0;
    DictDate a{}, b{};
    const bool hasA = VersionLibrary().string_to_date(first.dateText.c_str(), &a);
    const bool hasB = VersionLibrary().string_to_date(second.dateText.c_str(), &b);
    if (hasA != hasB) return hasA ? 1 : -1;
    return hasA ? VersionLibrary().compare_date(&a, &b) : 0;
}

// One action per file: of the entries that would write the same file, the newest (the first
// of equal dates) stays planned and the others are skipped. The planned entries are sorted
// by their targets as the file system compares names, plan order kept within a target, so
// that each file's entries are met together.
void KeepOneEntryPerTarget(std::list<PackageItem>& packages) {
    std::vector<std::pair<std::wstring, EntryItem*>> planned;
    for (auto& package : packages) {
        if (!package.entries) continue;
        for (auto& entry : *package.entries)
            if (IsPlanned(entry)) planned.emplace_back(FoldedName(entry.targetPath), &entry);
    }
    std::stable_sort(planned.begin(), planned.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    const std::wstring* keptTarget = nullptr;
    EntryItem* kept = nullptr;
    for (auto& [target, entry] : planned) {
        if (kept == nullptr || target != *keptTarget) {
            keptTarget = &target;
            kept = entry;
        } else if (CompareEntryDates(*entry, *kept) > 0) {
            kept->action = ACTION_SKIP;
            kept = entry;
        } else {
            entry->action = ACTION_SKIP;
        }
    }
}

}  // namespace

bool DecidePlanActions(std::list<PackageItem>& packages, const std::list<InstalledDictItem>& installed) {
    std::wstring dataDir;
    bool haveDataDir = false;
    std::unique_ptr<CFolderAnswers> folder;
    const InstalledIndex index = IndexInstalled(installed);
    for (auto& package : packages) {
        if (!package.entries) continue;
        for (auto& entry : *package.entries) {
            const std::wstring fileName = entry.dictId + entry.fileExt;
            if (const InstalledDictItem* match = FindInstalled(index, fileName)) {
                entry.action = DecideAgainst(entry, *match);
                entry.targetPath = match->filePath;
                continue;
            }
            // A new file needs the data directory; without it there is no place to write
            // to, and a target relative to the drive root must never be formed.
            if (!haveDataDir && !(haveDataDir = GetDictDataDir(dataDir))) return false;
            entry.action = ACTION_INSTALL;
            entry.targetPath = dataDir + L"\\" + fileName;
            if (!folder) folder = std::make_unique<CFolderAnswers>(dataDir);
            DecideAgainstFileSystem(entry, dataDir, *folder);
        }
    }
    KeepOneEntryPerTarget(packages);
    return true;
}

int CountPlanned(const std::list<PackageItem>& packages) {
    int count = 0;
    for (const auto& package : packages) {
        if (!package.entries) continue;
        for (const auto& entry : *package.entries)
            if (IsPlanned(entry)) ++count;
    }
    return count;
}

uint32_t ProgressTotalOf(const std::list<PackageItem>& packages) {
    uint64_t total = 0;
    for (const auto& package : packages) {
        if (!package.entries) continue;
        for (const auto& entry : *package.entries)
            if (IsPlanned(entry)) total += entry.size / CHUNK_SIZE + (entry.size % CHUNK_SIZE != 0 ? 1 : 0);
    }
    return total > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(total);
}

void ActionSummaryOf(const std::list<PackageItem>& packages, std::wstring& summary) {
    summary.clear();
    for (const auto& package : packages) {
        if (!package.entries) continue;
        for (const auto& entry : *package.entries) {
            if (entry.action == ACTION_INSTALL)
                summary += PLAN_SUMMARY_INSTALL + entry.displayName + PLAN_SUMMARY_CLOSE;
            else if (entry.action == ACTION_UPGRADE)
                summary += PLAN_SUMMARY_UPGRADE + entry.displayName + PLAN_SUMMARY_CLOSE;
        }
    }
}
