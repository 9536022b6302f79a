#include "install/Recovery.h"

#include <vector>

#include "base/CrashPoint.h"
#include "host/HostPaths.h"
#include "install/ReplaceTarget.h"
#include "package/DictFiles.h"

namespace {

// Every step ends in a state of the table or fails; a settle needs at most a copy dropped,
// the backup put back and the new file dropped, so this bound is only a guard.
constexpr int SETTLE_ROUNDS = 8;

bool ApplySettleStep(SettleStep step, const std::wstring& target) {
    switch (step) {
        case SETTLE_NOTHING:
            return true;
        case SETTLE_DROP_NEW:
            // The mark first: without it, a new file beside a target means nothing more.
            return DeleteWorkFile(UnregisteredMarkOf(target)) && DeleteWorkFile(NewFilePathOf(target));
        case SETTLE_RENAME_BACKUP:
            if (!MoveDurably(BackupPathOf(target), target, false)) return false;
            QB_CRASH_POINT();
            // The new bytes did not stay.
            return DeleteWorkFile(UnregisteredMarkOf(target));
        case SETTLE_RESTORE_BACKUP:
            if (!ReplaceTargetFile(target.c_str(), Restore)) return false;
            QB_CRASH_POINT();
            return DeleteWorkFile(UnregisteredMarkOf(target));
        case SETTLE_DROP_BACKUP:
            return DeleteWorkFile(BackupPathOf(target));
    }
    return false;
}

}  // namespace

bool SettleTarget(const std::wstring& target) {
    for (int round = 0; round < SETTLE_ROUNDS; ++round) {
        const CTargetFiles files = ReadTargetFiles(target);
        // A copy of the previous file is only ever partial or not yet the backup.
        if (files.m_bCopy) {
            if (!DeleteWorkFile(CopyFilePathOf(files.m_strTarget))) return false;
            QB_CRASH_POINT();
            continue;
        }
        const SettleStep step = RuleFor(ClassifyTarget(files)).m_nSettle;
        if (step == SETTLE_NOTHING) return true;
        if (!ApplySettleStep(step, files.m_strTarget)) return false;
        QB_CRASH_POINT();
    }
    return false;
}

void RecoverDictData(const std::wstring& dataDir, CRecoveryResult& result) {
    std::vector<CTargetFiles> targets;
    ListDictDataDir(dataDir, targets);
    for (const CTargetFiles& files : targets) {
        if (!files.AnyWorkFile()) continue;
        // Another installer's leftover, or a registration to come: the table keeps them as
        // they are, so nothing is settled.
        const bool needsNothing = !files.m_bCopy && RuleFor(ClassifyTarget(files)).m_nSettle == SETTLE_NOTHING;
        if (needsNothing) result.m_left.push_back(files.m_strTarget);
        else if (SettleTarget(files.m_strTarget)) result.m_settled.push_back(files.m_strTarget);
        else result.m_unsettled.push_back(files.m_strTarget);
    }
}

void RecoverHostConfig(const std::wstring& configPath) {
    const std::wstring proven = NewFilePathOf(configPath);
    const std::wstring unproven = CopyFilePathOf(configPath);
    // A whole file always answers to the name while the wizard replaces it. Should the name
    // be found empty all the same, the proven copy is a whole configuration and takes it; a
    // copy that was never proven may be cut short, and is left for whoever looks.
    if (!FileExistsAt(configPath)) {
        if (FileExistsAt(proven)) MoveDurably(proven, configPath, false);
        return;
    }
    DeleteWorkFile(proven);
    DeleteWorkFile(unproven);
}

CRecoveryResult RecoverInterruptedInstall() {
    CRecoveryResult result;
    std::wstring dataDir, configPath;
    if (!GetDictDataDir(dataDir) || !GetLocalQueryCfgPath(configPath)) return result;
    result.m_bHostKnown = true;
    RecoverDictData(dataDir, result);
    RecoverHostConfig(configPath);
    return result;
}
