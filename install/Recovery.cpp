#include "install/Recovery.h"

#include <map>
#include <vector>

#include "base/CrashPoint.h"
#include "base/ScopedWin.h"
#include "host/HostPaths.h"
#include "install/ReplaceTarget.h"

namespace {

bool EndsWithIgnoringCase(const std::wstring& name, const wchar_t* suffix) {
    const std::wstring tail = suffix;
    if (name.size() <= tail.size()) return false;
    return CompareStringOrdinal(name.c_str() + name.size() - tail.size(), static_cast<int>(tail.size()), tail.c_str(),
                                static_cast<int>(tail.size()), TRUE) == CSTR_EQUAL;
}

std::wstring FoldedKey(std::wstring path) {
    if (!path.empty()) CharUpperBuffW(&path[0], static_cast<DWORD>(path.size()));
    return path;
}

// The targets that have one of the engine's own files beside them.
std::vector<std::wstring> TargetsWithWorkFiles(const std::wstring& dataDir) {
    std::map<std::wstring, std::wstring> targets;
    WIN32_FIND_DATAW data;
    qb::ScopedFindHandle find(FindFirstFileW((dataDir + L"\\*").c_str(), &data));
    if (!find) return {};
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::wstring name = data.cFileName;
        for (const wchar_t* suffix : WORK_FILE_SUFFIXES) {
            if (!EndsWithIgnoringCase(name, suffix)) continue;
            const std::wstring target = dataDir + L"\\" + name.substr(0, name.size() - wcslen(suffix));
            targets.emplace(FoldedKey(target), target);
            break;
        }
    } while (FindNextFileW(find.get(), &data));
    std::vector<std::wstring> out;
    for (const auto& target : targets) out.push_back(target.second);
    return out;
}

void SettleTarget(const std::wstring& target) {
    const std::wstring backup = BackupPathOf(target);
    const std::wstring newFile = NewFilePathOf(target);
    DeleteWorkFile(CopyFilePathOf(target));
    QB_CRASH_POINT();
    bool previousBack = false;
    if (FileExistsAt(backup)) {
        if (!FileExistsAt(target)) {
            previousBack = MoveDurably(backup, target, false);
        } else if (FileExistsAt(newFile)) {
            previousBack = ReplaceTargetFile(target.c_str(), Restore);
        } else {
            DeleteWorkFile(backup);
        }
        QB_CRASH_POINT();
    }
    // The mark of a registration to come goes when its new bytes did not stay: the previous
    // file is back (put back now, or before: a new file without a backup beside it), or a new
    // install was cut off before its rename.
    const bool backupLeft = FileExistsAt(backup);
    if (previousBack || (!backupLeft && (FileExistsAt(newFile) || !FileExistsAt(target))))
        DeleteWorkFile(UnregisteredMarkOf(target));
    if (!backupLeft) DeleteWorkFile(newFile);
}

}  // namespace

int RecoverDictData(const std::wstring& dataDir) {
    const std::vector<std::wstring> targets = TargetsWithWorkFiles(dataDir);
    for (const std::wstring& target : targets) SettleTarget(target);
    return static_cast<int>(targets.size());
}

void RecoverHostConfig(const std::wstring& configPath) { DeleteWorkFile(NewFilePathOf(configPath)); }

bool RecoverInterruptedInstall() {
    std::wstring dataDir, configPath;
    if (!GetDictDataDir(dataDir) || !GetLocalQueryCfgPath(configPath)) return false;
    RecoverDictData(dataDir);
    RecoverHostConfig(configPath);
    return true;
}
