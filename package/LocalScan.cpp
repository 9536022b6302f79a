#include "package/LocalScan.h"

#include <memory>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/NameFolding.h"
#include "base/ScopedWin.h"
#include "host/HostConfigFile.h"
#include "host/HostPaths.h"
#include "package/DictFiles.h"
#include "package/EntryNames.h"
#include "package/PlanRecords.h"
#include "package/PackageReader.h"
#include "package/VersionLibrary.h"

namespace {

// The full path of the searched directory, from the full form of the pattern.
bool SearchedDirectory(const std::wstring& pattern, std::wstring& dir) {
    const DWORD needed = GetFullPathNameW(pattern.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return false;
    std::vector<wchar_t> buffer(needed + 1);
    const DWORD length = GetFullPathNameW(pattern.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length == 0 || length >= buffer.size()) return false;
    const std::wstring full(buffer.data(), length);
    const size_t cut = full.find_last_of(L"\\/");
    if (cut == std::wstring::npos) return false;
    dir = full.substr(0, cut);
    return true;
}

// Hands every file (not directory) matching the pattern to visit(fullPath, name), in the
// order the file system lists them. A pattern that finds nothing visits nothing; false
// only when visit asked to stop.
template <typename Visit>
bool ForEachFile(const std::wstring& pattern, Visit visit) {
    if (pattern.size() >= MAX_PATH) return true;
    WIN32_FIND_DATAW data;
    qb::ScopedFindHandle find(FindFirstFileW(pattern.c_str(), &data));
    if (!find) return true;
    std::wstring dir;
    if (!SearchedDirectory(pattern, dir)) return true;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        if (!visit(dir + L"\\" + data.cFileName, std::wstring(data.cFileName))) return false;
    } while (FindNextFileW(find.get(), &data));
    return true;
}

}  // namespace

bool ScanPackageFiles(std::list<PackageItem>& packages) {
    std::wstring dir;
    if (!GetModuleDir(dir)) return false;
    packages.clear();
    // The module directory ends with a backslash, so the pattern doubles it; the file
    // system reads the two as one separator.
    return ForEachFile(dir + PACKAGE_SEARCH_PIECE, [&packages](const std::wstring& path, const std::wstring&) {
        packages.emplace_back();
        packages.back().filePath = path;
        return ReadPackageEntries(packages.back());
    });
}

bool ReadPackageEntries(PackageItem& package) {
    CPackageReader reader;
    if (!reader.Open(package.filePath.c_str())) return false;
    const auto& records = reader.records();
    if (records.empty()) return true;

    auto entries = std::make_unique<std::vector<EntryItem>>();
    entries->reserve(records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        const PackageDirRecord& record = records[i];
        EntryItem entry;
        entry.index = static_cast<uint32_t>(i);
        entry.size = record.dataSize;
        entry.dictId = LowerAscii(FieldText(record.dictId));
        entry.fileExt = LowerAscii(FieldText(record.fileExt));
        entry.displayName = FieldText(record.displayName);
        entry.dateText = FieldText(record.dateText);
        // The id and extension become a file name in the host's data directory; a package
        // that names anything else is treated as damaged.
        if (!IsSafeEntryName(entry.dictId, entry.fileExt)) return false;
        entries->push_back(std::move(entry));
    }
    package.entries = std::move(entries);
    return true;
}

namespace {

bool IsDictionaryName(const std::wstring& lowerName) {
    const size_t dot = lowerName.rfind(L'.');
    if (dot == std::wstring::npos) return false;
    const std::wstring ext = lowerName.substr(dot);
    return ext == DICT_EXT_DIC || ext == DICT_EXT_DIP;
}

}  // namespace

bool ScanInstalledFiles(std::list<InstalledDictItem>& installed) {
    std::wstring dir;
    if (!GetDictDataDir(dir)) return false;
    installed.clear();
    // One search lists the folder; what each dictionary's files mean (which one dates it, and
    // whether it waits to be registered) is the state table's answer.
    std::vector<CTargetFiles> targets;
    if (dir.size() + 2 >= MAX_PATH || !ListDictDataDir(dir, targets)) return true;
    // A dictionary the host cannot see (its section lost, or never written) is not installed,
    // whatever its files say. Without a readable configuration there is nothing to register
    // into, and the files alone decide.
    std::wstring hostConfig;
    std::unordered_set<std::wstring> registered;
    const bool hostConfigRead = GetLocalQueryCfgPath(hostConfig) && ReadRegisteredIds(hostConfig, registered);
    for (const CTargetFiles& files : targets) {
        const std::wstring datingPath = DatingPath(files);
        if (datingPath.empty()) continue;
        InstalledDictItem item;
        item.fileName = LowerAscii(files.m_strTarget.substr(dir.size() + 1));
        if (!IsDictionaryName(item.fileName)) continue;
        item.filePath = files.m_strTarget;
        const std::wstring dictId = FoldedName(item.fileName.substr(0, item.fileName.rfind(L'.')));
        item.unregistered = RuleFor(ClassifyTarget(files)).m_bSameDateInstalls ||
                            (hostConfigRead && registered.count(dictId) == 0);
        if (LoadVersionLibrary()) VersionLibrary().get_dict_datetime(datingPath.c_str(), &item.fileDate);
        installed.push_back(std::move(item));
    }
    return true;
}
