#include "package/DictFiles.h"

#include <windows.h>

#include <unordered_map>

#include "base/NameFolding.h"
#include "base/ScopedWin.h"
#include "base/WorkFileNames.h"
#include "package/EntryNames.h"

namespace {

//   state                settle                 dated by          same date  may install
const CStateRule STATE_RULES[] = {
    {TS_ABSENT,           SETTLE_NOTHING,        DATED_BY_NOTHING, false,     true},
    {TS_COMPLETE,         SETTLE_NOTHING,        DATED_BY_TARGET,  false,     true},
    {TS_UNREGISTERED,     SETTLE_NOTHING,        DATED_BY_TARGET,  true,      true},
    // The install writes N and M anew; a leftover that could not be deleted fails it there.
    {TS_NEW_CUT,          SETTLE_DROP_NEW,       DATED_BY_NOTHING, false,     true},
    {TS_MOVED_ASIDE,      SETTLE_RENAME_BACKUP,  DATED_BY_BACKUP,  false,     false},
    {TS_REWRITE_CUT,      SETTLE_RESTORE_BACKUP, DATED_BY_BACKUP,  false,     false},
    {TS_STALE_BACKUP,     SETTLE_DROP_BACKUP,    DATED_BY_TARGET,  true,      false},
    {TS_PREVIOUS_BACK,    SETTLE_DROP_NEW,       DATED_BY_TARGET,  false,     true},
    // Both stay until an install of the backup's date or later writes T whole beside B.
    {TS_UNKNOWN_LEFTOVER, SETTLE_NOTHING,        DATED_BY_BACKUP,  true,      true},
};

enum FileRole { ROLE_TARGET, ROLE_BACKUP, ROLE_NEW_FILE, ROLE_COPY, ROLE_MARK };

const struct {
    const wchar_t* suffix;
    FileRole role;
} WORK_FILE_ROLES[] = {
    {BACKUP_SUFFIX, ROLE_BACKUP},
    {NEW_FILE_SUFFIX, ROLE_NEW_FILE},
    {COPY_FILE_SUFFIX, ROLE_COPY},
    {UNREGISTERED_SUFFIX, ROLE_MARK},
};

// What a listed name is: a work file of an engine target (the target's name, and its role),
// or a plain file, which may be a dictionary.
FileRole RoleOf(const std::wstring& name, std::wstring& targetName) {
    for (const auto& work : WORK_FILE_ROLES) {
        const std::wstring suffix = work.suffix;
        if (name.size() <= suffix.size() || !EndsWithFileName(name, suffix)) continue;
        const std::wstring target = name.substr(0, name.size() - suffix.size());
        if (!IsEngineTargetName(target)) break;
        targetName = target;
        return work.role;
    }
    targetName = name;
    return ROLE_TARGET;
}

void Mark(CTargetFiles& files, FileRole role) {
    switch (role) {
        case ROLE_TARGET: files.m_bTarget = true; break;
        case ROLE_BACKUP: files.m_bBackup = true; break;
        case ROLE_NEW_FILE: files.m_bNewFile = true; break;
        case ROLE_COPY: files.m_bCopy = true; break;
        case ROLE_MARK: files.m_bMark = true; break;
    }
}

}  // namespace

TargetState ClassifyTarget(const CTargetFiles& f) {
    if (f.m_bBackup) {
        if (!f.m_bTarget) return TS_MOVED_ASIDE;
        if (f.m_bNewFile) return TS_REWRITE_CUT;
        return f.m_bMark ? TS_STALE_BACKUP : TS_UNKNOWN_LEFTOVER;
    }
    if (f.m_bTarget) {
        if (f.m_bNewFile) return TS_PREVIOUS_BACK;
        return f.m_bMark ? TS_UNREGISTERED : TS_COMPLETE;
    }
    return f.m_bNewFile || f.m_bMark ? TS_NEW_CUT : TS_ABSENT;
}

const CStateRule& RuleFor(TargetState state) {
    for (const CStateRule& rule : STATE_RULES)
        if (rule.m_nState == state) return rule;
    return STATE_RULES[0];
}

std::wstring DatingPath(const CTargetFiles& files) {
    switch (RuleFor(ClassifyTarget(files)).m_nDatedBy) {
        case DATED_BY_TARGET: return files.m_strTarget;
        case DATED_BY_BACKUP: return files.m_strTarget + BACKUP_SUFFIX;
        case DATED_BY_NOTHING: break;
    }
    return std::wstring();
}

bool IsEngineTargetName(const std::wstring& name) {
    const size_t dot = name.rfind(L'.');
    if (dot == std::wstring::npos || dot == 0 || dot + 1 >= name.size()) return false;
    return IsSafeEntryName(name.substr(0, dot), name.substr(dot));
}

bool ListDictDataDir(const std::wstring& dir, std::vector<CTargetFiles>& targets) {
    targets.clear();
    WIN32_FIND_DATAW data;
    qb::ScopedFindHandle find(FindFirstFileW((dir + L"\\*").c_str(), &data));
    if (!find) return GetLastError() == ERROR_FILE_NOT_FOUND;
    std::unordered_map<std::wstring, size_t> byName;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        std::wstring targetName;
        const FileRole role = RoleOf(data.cFileName, targetName);
        const auto inserted = byName.emplace(FoldedName(targetName), targets.size());
        if (inserted.second) {
            targets.emplace_back();
            targets.back().m_strTarget = dir + L"\\" + targetName;
        }
        CTargetFiles& files = targets[inserted.first->second];
        // The target's own listing gives its name's real letter case.
        if (role == ROLE_TARGET) files.m_strTarget = dir + L"\\" + targetName;
        Mark(files, role);
    } while (FindNextFileW(find.get(), &data));
    return true;
}

CTargetFiles ReadTargetFiles(const std::wstring& target) {
    CTargetFiles files;
    files.m_strTarget = target;
    const size_t cut = target.find_last_of(L"\\/");
    if (cut == std::wstring::npos) return files;
    const std::wstring dir = target.substr(0, cut);
    const std::wstring name = target.substr(cut + 1);
    WIN32_FIND_DATAW data;
    qb::ScopedFindHandle find(FindFirstFileW((target + L"*").c_str(), &data));
    if (!find) return files;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        std::wstring targetName;
        const FileRole role = RoleOf(data.cFileName, targetName);
        if (!SameFileName(targetName, name)) continue;
        if (role == ROLE_TARGET) files.m_strTarget = dir + L"\\" + targetName;
        Mark(files, role);
    } while (FindNextFileW(find.get(), &data));
    return files;
}
