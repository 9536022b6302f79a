#include "install/Recovery.h"

#include <map>
#include <vector>

#include "base/CrashPoint.h"
#include "base/ScopedWin.h"
#include "host/HostPaths.h"
#include "install/ReplaceTarget.h"
#include "package/LocalScan.h"

namespace {

// The targets that have one of the engine's own files beside them.
std::vector<std::wstring> TargetsWithWorkFiles(const std::wstring& dataDir) {
    std::map<std::wstring, std::wstring> targets;
    WIN32_FIND_DATAW data;
    qb::ScopedFindHandle find(FindFirstFileW((dataDir + L"\\*").c_str(), &data));
    if (!find) return {};
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::wstring name = data.cFileName;
        const std::wstring folded = FoldedName(name);
        for (const wchar_t* suffix : WORK_FILE_SUFFIXES) {
            const std::wstring tail = FoldedName(suffix);
            if (folded.size() <= tail.size() || folded.compare(folded.size() - tail.size(), tail.size(), tail) != 0)
                continue;
            const std::wstring target = dataDir + L"\\" + name.substr(0, name.size() - tail.size());
            targets.emplace(FoldedName(target), target);
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
