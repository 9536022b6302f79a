#include "package/LocalScan.h"

#include <memory>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/ScopedWin.h"
#include "host/HostPaths.h"
#include "base/WorkFileNames.h"
#include "package/EntryNames.h"
#include "package/InstallManager.h"
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

std::wstring LowerAscii(std::wstring text) {
    for (auto& c : text)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return text;
}

std::wstring FoldedName(std::wstring name) {
    if (!name.empty()) CharUpperBuffW(&name[0], static_cast<DWORD>(name.size()));
    return name;
}

bool CInstallManager::ScanPackages() {
    std::wstring dir;
    if (!GetModuleDir(dir)) return false;
    m_packages.clear();
    // The module directory ends with a backslash, so the pattern doubles it; the file
    // system reads the two as one separator.
    return ForEachFile(dir + PACKAGE_SEARCH_PIECE, [this](const std::wstring& path, const std::wstring&) {
        m_packages.emplace_back();
        m_packages.back().filePath = path;
        return ReadPackageEntries(m_packages.back());
    });
}

bool CInstallManager::ReadPackageEntries(PackageItem& package) {
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

// The name a backup stands for, or empty when the name is not a backup's.
std::wstring TargetOfBackup(const std::wstring& name) {
    const std::wstring suffix = BACKUP_SUFFIX;
    if (name.size() <= suffix.size() || LowerAscii(name.substr(name.size() - suffix.size())) != suffix) return L"";
    return name.substr(0, name.size() - suffix.size());
}

}  // namespace

bool CInstallManager::ScanInstalled() {
    std::wstring dir;
    if (!GetDictDataDir(dir)) return false;
    m_installed.clear();
    // One search lists the folder; whether a backup or a new file lies beside a dictionary is
    // looked up in that list (a missing name asked of the file system one by one costs a
    // search of the folder each under Wine).
    std::vector<std::pair<std::wstring, std::wstring>> files;
    std::unordered_set<std::wstring> names;
    ForEachFile(dir + INSTALLED_SEARCH_PIECE, [&](const std::wstring& path, const std::wstring& name) {
        files.emplace_back(path, name);
        names.insert(FoldedName(name));
        return true;
    });
    auto beside = [&](const std::wstring& name, const wchar_t* suffix) { return names.count(FoldedName(name + suffix)) != 0; };
    for (const auto& file : files) {
        const std::wstring& path = file.first;
        const std::wstring& name = file.second;
        // A backup still waiting beside its dictionary with the new file (the start could
        // not put it back) holds the complete previous file, while the dictionary may be
        // partial: the dictionary is dated by the backup, so that no package older than the
        // previous file is installed over it. Without its dictionary the backup stands in
        // for it. A backup beside a complete dictionary says nothing about it.
        std::wstring listedName = name;
        std::wstring listedPath = path;
        std::wstring datedPath = path;
        const std::wstring backupOf = TargetOfBackup(name);
        if (!backupOf.empty()) {
            if (names.count(FoldedName(backupOf)) != 0) continue;
            listedName = backupOf;
            listedPath = path.substr(0, path.size() - name.size()) + backupOf;
        } else if (beside(name, BACKUP_SUFFIX) && beside(name, NEW_FILE_SUFFIX)) {
            datedPath = path + BACKUP_SUFFIX;
        }
        InstalledDictItem item;
        item.fileName = LowerAscii(listedName);
        if (!IsDictionaryName(item.fileName)) continue;
        item.filePath = listedPath;
        item.unregistered = beside(listedName, UNREGISTERED_SUFFIX);
        if (LoadVersionLibrary()) VersionLibrary().get_dict_datetime(datedPath.c_str(), &item.fileDate);
        m_installed.push_back(std::move(item));
    }
    return true;
}
