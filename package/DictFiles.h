// What a dictionary's files in the host's data directory mean, decided in one place.
//
// Beside a dictionary T the install engine keeps its own files (base/WorkFileNames.h): B the
// previous file under its backup name, N the new file while it is written, C a copy of the
// previous file while it is made, M an empty mark from just before new bytes take T's name
// until the dictionary is registered. The engine goes through them so that T is complete at
// every instant, or its complete previous bytes are B and the engine's own evidence says so:
//
//   new install          N growing -> N + M -> T + M -> T
//   upgrade by rename    T -> B -> B + N growing -> B + N + M -> T + B + M -> T + M -> T
//   upgrade in place     T + C growing -> T + C + N -> T + B + N growing -> T + B + N + M
//   (T held open)          -> T rewritten from N -> T + B + M -> T + M -> T
//
// So beside a backup, N says "T may be partial" and M without N says "T holds the complete
// new bytes". A backup with neither beside a target is not known to be ours (another
// installer, an earlier build that wrote in place): T may be partial, so both stay, and the
// dictionary is dated by B until an install of that date or later puts it whole.
//
// Every reader of the directory (the start's recovery, the installed scan, the plan, an
// install's precondition, its failure path) classifies a target by ClassifyTarget and acts by
// its row of the table: what settling does, which file dates the dictionary, whether an
// install may replace it. A copy C is always partial or unused and goes before anything else.
#pragma once

#include <string>
#include <vector>

struct CTargetFiles {
    std::wstring m_strTarget;  // full path of the dictionary, its name's letter case as found
    bool m_bTarget = false;
    bool m_bBackup = false;
    bool m_bNewFile = false;
    bool m_bCopy = false;
    bool m_bMark = false;

    bool AnyWorkFile() const { return m_bBackup || m_bNewFile || m_bCopy || m_bMark; }
};

enum TargetState {
    TS_ABSENT,            // none of the files
    TS_COMPLETE,          // T
    TS_UNREGISTERED,      // T + M: complete, its registration cut off
    TS_NEW_CUT,           // N or M without T or B: a new install cut off
    TS_MOVED_ASIDE,       // B without T (N, M beside): an upgrade cut off after the move aside
    TS_REWRITE_CUT,       // T + B + N (M beside): T may be partly rewritten
    TS_STALE_BACKUP,      // T + B + M: T holds the complete new bytes
    TS_PREVIOUS_BACK,     // T + N without B (M beside): the previous file is back
    TS_UNKNOWN_LEFTOVER,  // T + B and none of the engine's evidence: T may be partial
};

enum SettleStep {
    SETTLE_NOTHING,
    SETTLE_DROP_NEW,        // delete M, then N
    SETTLE_RENAME_BACKUP,   // B takes T's free name, then M goes
    SETTLE_RESTORE_BACKUP,  // B takes T's name in one step, or T is rewritten from B; then M goes
    SETTLE_DROP_BACKUP,     // delete B
};

enum DateSource {
    DATED_BY_NOTHING,  // no dictionary
    DATED_BY_TARGET,
    DATED_BY_BACKUP,  // the complete previous file
};

struct CStateRule {
    TargetState m_nState;
    SettleStep m_nSettle;
    DateSource m_nDatedBy;
    bool m_bSameDateInstalls;  // an entry of the dictionary's own date installs it (not "up to date")
    bool m_bMayInstall;        // an install may go ahead in this state
};

TargetState ClassifyTarget(const CTargetFiles& files);
const CStateRule& RuleFor(TargetState state);
// The file whose date is the dictionary's, or empty when there is no dictionary.
std::wstring DatingPath(const CTargetFiles& files);

// A name the plan could have installed: an id and an extension that pass the entry-name rule.
// Files beside any other name are never the engine's, whatever their suffix.
bool IsEngineTargetName(const std::wstring& name);

// One search of the directory: every plain file and every work file of an engine target name,
// grouped by target. Targets are in the order their first file was listed.
bool ListDictDataDir(const std::wstring& dir, std::vector<CTargetFiles>& targets);
// One target's files, from one search of its directory for the target's name and what
// follows it.
CTargetFiles ReadTargetFiles(const std::wstring& target);
