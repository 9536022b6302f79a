// The question a removal by hand asks first, the same for a setup folder's removal and the
// kept copy's: what would go now (the engine's preview) and what stays. Every file is matched
// again as it goes, after the answer.
#pragma once

#include <vector>

#include "app/RunLog.h"
#include "install/Removal.h"

enum class RemovalAnswer {
    NothingListed,  // nothing of ours would go: no question was asked
    Yes,
    No,
};

RemovalAnswer AskRemoval(const std::vector<CRemovalRecord>& records, CRunLog& log);
