// The question a removal by hand asks first and the outcome it shows last, the same for a
// setup folder's removal and the kept copy's: what would go now (the engine's preview) and
// what stays, and why. Every file is matched again as it goes, after the answer; the outcome
// is decided once the removal and its record are settled.
#pragma once

#include <vector>

#include "app/RunLog.h"
#include "install/RecordRemoval.h"
#include "install/Removal.h"

enum class RemovalAnswer {
    NothingListed,  // nothing of ours would go or stay: no question was asked
    Yes,            // yes to a list of what goes
    Acknowledged,   // yes to a list of what stays, with nothing that would go
    No,
};

RemovalAnswer AskRemoval(const std::vector<CRemovalRecord>& records, const std::vector<CRemovalRecord>& otherClaims,
                         CRunLog& log);

// The outcome's log line, its one box (by hand) and the exit code.
int FinishRemoval(RemovalVerdict verdict, bool silent, CRunLog& log);
